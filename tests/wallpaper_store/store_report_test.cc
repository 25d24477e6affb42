#include "wallpaper_store/store_report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "base/process_values.h"
#include "support/sandbox.h"
#include "support/store_builders.h"
#include "wallpaper_store/idle_entry.h"
#include "wallpaper_store/store_backups.h"

namespace zeph {
namespace {

using test_support::array;
using test_support::dict;
using test_support::str;

TEST(StoreReport, DescribesEverySlotThenTheCount) {
  setProcessValues("/Users/a", true);
  plist::Dictionary fresh = zephIdleNode();
  fresh.set("LastSet", plist::Value(plist::Date{818284903}));
  fresh.set("LastUse", plist::Value(plist::Date{818284963.5}));
  plist::Value saver(fresh);
  plist::Value image = dict(
      {{"Content", dict({{"Choices", array({dict({{"Provider", str("com.apple.wallpaper.choice.image")}}),
                                            str("stray"), dict({})})}})},
       {"LastUse", plist::Value(plist::Date{0})}});
  plist::Value root = dict({
      {"SystemDefault", dict({{"Idle", saver}})},
      {"Spaces", dict({{"ABC", dict({{"Default", dict({})},
                                     {"Displays", dict({{"XYZ", dict({{"Idle", image}})},
                                                        {"Z\"\n", dict({{"Idle", saver}})}})}})}})},
  });
  EXPECT_EQ(storeReport(*root.asDictionary()),
            "system default: (no type) com.apple.wallpaper.choice.screen-saver "
            "file:///Users/a/Library/Screen%20Savers/zeph.saver (set 2026-12-06T21:21:43Z, used "
            "2026-12-06T21:22:43Z)\n"
            "space \"ABC\" default: (no type) none\n"
            "space \"ABC\" display \"XYZ\": (no type) com.apple.wallpaper.choice.image, (no provider) (used "
            "2001-01-01T00:00:00Z)\n"
            "space \"ABC\" display \"Z\\x22\\x0A\": (no type) com.apple.wallpaper.choice.screen-saver "
            "file:///Users/a/Library/Screen%20Savers/zeph.saver (set 2026-12-06T21:21:43Z, used "
            "2026-12-06T21:22:43Z)\n"
            "2 slots hold the zeph saver\n");

  plist::Value one = dict({{"SystemDefault", dict({{"Idle", saver}})}, {"Spaces", str("$null")}});
  EXPECT_EQ(storeReport(*one.asDictionary()).substr(storeReport(*one.asDictionary()).find('\n') + 1),
            "1 slot holds the zeph saver\n");
  EXPECT_EQ(storeReport(plist::Dictionary{}), "0 slots hold the zeph saver\n");
}

TEST(StoreReportJson, SameFactsAsTheTextWithNullsForWhatIsMissing) {
  setProcessValues("/Users/a", true);
  plist::Dictionary fresh = zephIdleNode();
  fresh.set("LastSet", plist::Value(plist::Date{818284903}));
  fresh.set("LastUse", plist::Value(plist::Date{1e300}));  // beyond any calendar
  plist::Value saver(fresh);
  // A lone surrogate, as the codec keeps it from a store.
  plist::Value odd =
      dict({{"Content", dict({{"Choices", array({dict({{"Provider", str("bad \xED\xA0\x80")}})})}})}});
  plist::Value root = dict({
      {"SystemDefault", dict({{"Idle", saver}})},
      {"Spaces",
       dict({{"ABC", dict({{"Default", dict({})}, {"Displays", dict({{"XYZ", dict({{"Idle", odd}})}})}})}})},
  });
  // A second store, as macOS 26 keeps: a linked record shows its one entry.
  plist::Value secondStore =
      dict({{"AllSpacesAndDisplays", dict({{"Type", str("linked")}, {"Linked", saver}})}});
  std::string text = storeReportJson({{"/s/Index.plist", root}, {"/s/Index2.plist", secondStore}});
  ASSERT_EQ(text.find('\n'), text.size() - 1);
  nlohmann::json report = nlohmann::json::parse(text);
  EXPECT_EQ(report["schema"], 1);
  EXPECT_EQ(report["store"], "/s/Index.plist");
  EXPECT_EQ(report["stores"], nlohmann::json::parse(R"(["/s/Index.plist", "/s/Index2.plist"])"));
  EXPECT_EQ(report["zeph"], 1);  // a linked record's "Idle" is not read
  EXPECT_EQ(report["total"], 3);
  // Every fact of every slot.
  const nlohmann::json saverChoice =
      nlohmann::json::parse(R"([{"provider": "com.apple.wallpaper.choice.screen-saver",
      "url": "file:///Users/a/Library/Screen%20Savers/zeph.saver"}])");
  const nlohmann::json oddChoice = {
      {{"provider", "bad \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}, {"url", nullptr}}};
  const auto slot = [](const char* file, const char* place, nlohmann::json space, nlohmann::json display,
                       nlohmann::json type, const char* shape, nlohmann::json selection, nlohmann::json set,
                       bool zeph) {
    return nlohmann::json{{"file", file},    {"place", place}, {"space", space},         {"display", display},
                          {"type", type},    {"shape", shape}, {"selection", selection}, {"set", set},
                          {"used", nullptr}, {"zeph", zeph}};
  };
  const std::string set = "2026-12-06T21:21:43Z";
  EXPECT_EQ(report["slots"][0], slot("/s/Index.plist", "system default", nullptr, nullptr, nullptr,
                                     "reads idle", saverChoice, set, true));
  EXPECT_EQ(report["slots"][1], slot("/s/Index.plist", "space default", "ABC", nullptr, nullptr, "reads idle",
                                     nlohmann::json::array(), nullptr, false));
  EXPECT_EQ(report["slots"][2], slot("/s/Index.plist", "display", "ABC", "XYZ", nullptr, "reads idle",
                                     oddChoice, nullptr, false));
  EXPECT_EQ(report["slots"][3], slot("/s/Index2.plist", "all spaces and displays", nullptr, nullptr, "linked",
                                     "linked", saverChoice, set, false));
  EXPECT_EQ(report["slots"].size(), 4u);
}

// Every record shape says what the system shows from it; an "Idle" the type
// does not read is not counted, and shapes nobody reported are named.
TEST(StoreReport, NamesEachRecordsTypeAndWhatItLeavesAlone) {
  setProcessValues("/Users/a", true);
  plist::Value saver(zephIdleNode());
  plist::Value image = dict({{"Content", dict({{"Choices", array({dict({{"Provider", str("image")}})})}})}});
  plist::Value root = dict({
      {"SystemDefault", dict({{"Type", str("individual")}, {"Desktop", image}, {"Idle", image}})},
      {"AllSpacesAndDisplays", dict({{"Type", str("linked")}, {"Linked", image}, {"Idle", saver}})},
      {"Displays", dict({{"A", dict({{"Type", str("desktop")}, {"Desktop", image}, {"Idle", saver}})},
                         {"B", dict({{"Type", str("slide\nshow")}, {"Idle", saver}})},
                         {"C", dict({{"Type", plist::Value::integer(3)}})},
                         {"D", dict({{"Type", str("linked")}, {"Linked", str("$null")}})},
                         {"E", dict({{"Type", str("idle")}, {"Idle", saver}})}})},
  });
  std::string report = storeReport(*root.asDictionary());
  EXPECT_EQ(report.substr(0, report.find("display \"E\"")),
            "system default: (\"individual\") image\n"
            "all spaces and displays: (\"linked\", desktop and screen saver) image\n"
            "display \"A\": (\"desktop\") no screen saver\n"
            "display \"B\": left alone (type \"slide\\x0Ashow\")\n"
            "display \"C\": left alone (type not a string)\n"
            "display \"D\": left alone (type \"linked\", no \"Linked\" entry)\n");
  EXPECT_EQ(report.substr(report.find("display \"E\"")).substr(0, 35),
            "display \"E\": (\"idle\") com.apple.wal");
  EXPECT_EQ(report.substr(report.rfind('\n', report.size() - 2) + 1), "1 slot holds the zeph saver\n");
}

}  // namespace
}  // namespace zeph
