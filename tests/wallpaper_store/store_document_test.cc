#include "wallpaper_store/store_document.h"

#include <gtest/gtest.h>

#include "support/sandbox.h"
#include "support/store_builders.h"
#include "wallpaper_store/store_slots.h"
#include "wallpaper_store/store_time.h"

namespace zeph {
namespace {

using test_support::array;
using test_support::dict;
using test_support::str;

// Each visited slot as text: kind, identifiers and what its "Idle" holds.
std::vector<std::string> walk(const plist::Value& root) {
  std::vector<std::string> seen;
  forEachSlot(*root.asDictionary(), [&seen](const Slot& slot) {
    static const char* kKinds[] = {"system", "all", "top", "default", "display"};
    std::string text = std::string(kKinds[static_cast<int>(slot.kind)]) + " [" + std::string(slot.space) +
                       "] [" + std::string(slot.display) + "] ";
    text += !slot.idle ? "absent" : slot.idleEntry() ? "entry" : "other";
    seen.push_back(text);
  });
  return seen;
}

TEST(ForEachSlot, VisitsExactlyTheSlotsOfTheTree) {
  plist::Value idle = dict({{"Content", dict({})}});
  plist::Value root = dict({
      {"SystemDefault", dict({{"Idle", idle}})},
      {"AllSpacesAndDisplays", dict({{"Type", str("linked")}})},
      {"Displays", dict({{"TOP", dict({{"Idle", idle}})}, {"T2", str("$null")}})},
      {"Spaces", dict({
                     {"", dict({{"Default", dict({{"Idle", str("$null")}})},
                                {"Displays", dict({{"Main", dict({})}, {"D2", dict({{"Idle", idle}})}})}})},
                     {"B", dict({{"Displays", dict({{"D1", str("x")}, {"D3", dict({{"Idle", idle}})}})}})},
                     {"C", dict({{"Default", dict({})}, {"Displays", array({dict({{"Idle", idle}})})}})},
                     {"D", str("not a space")},
                     {"E", dict({{"Default", str("x")}, {"Idle", idle}})},
                 })},
  });
  std::vector<std::string> expected = {
      "system [] [] entry",    "all [] [] absent",         "top [] [TOP] entry",     "default [] [] other",
      "display [] [D2] entry", "display [] [Main] absent", "display [B] [D3] entry", "default [C] [] absent",
  };
  EXPECT_EQ(walk(root), expected);
}

TEST(ForEachSlot, EndsABranchAtAValueOfAnotherKind) {
  EXPECT_TRUE(walk(dict({})).empty());
  EXPECT_TRUE(
      walk(dict({{"SystemDefault", str("$null")}, {"Spaces", array({dict({{"Default", dict({})}})})}}))
          .empty());
  EXPECT_EQ(walk(dict({{"SystemDefault", dict({})}, {"Spaces", str("x")}})),
            std::vector<std::string>{"system [] [] absent"});
  EXPECT_TRUE(walk(dict({{"AllSpacesAndDisplays", str("$null")}, {"Displays", array({dict({})})}})).empty());
}

TEST(RecordShape, SaysWhichEntryTheSystemReads) {
  plist::Value entry = dict({{"Content", dict({})}});
  struct Case {
    plist::Value record;
    RecordShape shape;
  };
  const Case cases[] = {
      {dict({}), RecordShape::ReadsIdle},
      {dict({{"Type", str("individual")}}), RecordShape::ReadsIdle},
      {dict({{"Type", str("idle")}, {"Idle", entry}}), RecordShape::ReadsIdle},
      {dict({{"Type", str("desktop")}, {"Desktop", entry}}), RecordShape::DesktopOnly},
      {dict({{"Type", str("linked")}, {"Linked", entry}}), RecordShape::Linked},
      {dict({{"Type", str("linked")}, {"Linked", str("$null")}}), RecordShape::Unknown},
      {dict({{"Type", str("linked")}, {"Idle", entry}}), RecordShape::Unknown},
      {dict({{"Type", str("Linked")}, {"Linked", entry}}), RecordShape::Unknown},
      {dict({{"Type", str("slideshow")}, {"Idle", entry}}), RecordShape::Unknown},
      {dict({{"Type", plist::Value::integer(1)}, {"Idle", entry}}), RecordShape::Unknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.record));
    EXPECT_EQ(recordShape(*c.record.asDictionary()), c.shape);
  }
}

TEST(IsoTimestamp, FormatsWholeSecondsInUtc) {
  // 2026-12-06T21:21:43Z is 1796592103 s after the Unix epoch, 818284903 s after 2001.
  EXPECT_EQ(isoTimestamp(plist::Date{818284903.75}), "2026-12-06T21:21:43Z");
  EXPECT_EQ(isoTimestamp(plist::Date{0}), "2001-01-01T00:00:00Z");
  EXPECT_EQ(isoTimestamp(plist::Date{-0.5}), "2000-12-31T23:59:59Z");
  EXPECT_EQ(isoTimestamp(plist::Date{-63113904000.0}), "0001-01-01T00:00:00Z");
  EXPECT_EQ(isoTimestamp(plist::Date{1e300}), "1e+300 seconds since 2001");
  double now = currentDate().secondsSince2001;
  EXPECT_EQ(isoTimestamp(plist::Date{now}).substr(0, 2), "20");
}

TEST(StoreDocument, WritesBinaryThatReadsBackEqual) {
  test_support::HomeSandbox box;
  plist::Value root =
      dict({{"SystemDefault", dict({{"Type", str("individual")}})}, {"n", plist::Value::real(-0.0)}});
  box.putStore(root, plist::Format::Xml);
  ASSERT_TRUE(storeExists(storePath));
  EXPECT_EQ(parseStore(loadStore(storePath), storePath), root);
  writeStore(storePath, root);
  std::vector<std::uint8_t> bytes = loadStore(storePath);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "bplist00");
  EXPECT_EQ(parseStore(bytes, storePath), root);
  EXPECT_FALSE(storeExists(storePath + "-missing"));
}

}  // namespace
}  // namespace zeph
