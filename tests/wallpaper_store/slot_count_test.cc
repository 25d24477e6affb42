#include "wallpaper_store/slot_count.h"

#include <gtest/gtest.h>

#include "base/process_values.h"
#include "platform/files.h"
#include "support/sandbox.h"
#include "support/store_builders.h"
#include "wallpaper_store/idle_entry.h"

namespace zeph {
namespace {

using test_support::array;
using test_support::dict;
using test_support::HomeSandbox;
using test_support::str;

TEST(ZephSlotCount, IsZeroForAStoreItCannotUse) {
  HomeSandbox box;
  EXPECT_EQ(zephSlotCount(), 0);  // no file
  createFolders(storePath);
  EXPECT_EQ(zephSlotCount(), 0);  // a folder
  ::rmdir(storePath.c_str());
  box.putStore({'{', '"', 'x'});
  EXPECT_EQ(zephSlotCount(), 0);  // not a property list
  plist::Value saver(zephIdleNode());
  box.putStore(array({dict({{"SystemDefault", dict({{"Idle", saver}})}})}), plist::Format::Binary);
  EXPECT_EQ(zephSlotCount(), 0);  // the root is an array
}

TEST(ZephSlotCount, CountsRecognisedEntriesInTheSlotsOnly) {
  HomeSandbox box;
  plist::Value saver(zephIdleNode());  // names the sandbox's saverDest
  plist::Value other = dict({{"Content", dict({{"Choices", array({dict({})})}})}});
  plist::Value twoDisplays =
      dict({{"Displays", dict({{"A", dict({{"Idle", saver}})}, {"B", dict({{"Idle", saver}})}})}});
  struct Case {
    const char* name;
    plist::Value root;
    std::int64_t count;
  };
  const Case cases[] = {
      {"system default only", dict({{"SystemDefault", dict({{"Idle", saver}})}}), 1},
      {"spaces an array",
       dict({{"SystemDefault", dict({{"Idle", saver}})}, {"Spaces", array({twoDisplays})}}), 1},
      {"a space that is a string", dict({{"Spaces", dict({{"S", str("x")}, {"T", twoDisplays}})}}), 2},
      {"default without idle",
       dict({{"Spaces", dict({{"S", dict({{"Default", dict({})},
                                          {"Displays", dict({{"A", dict({{"Idle", saver}})}})}})}})}}),
       1},
      {"entries of other kinds",
       dict({{"SystemDefault", dict({{"Idle", other}})},
             {"Spaces",
              dict({{"S", dict({{"Default", dict({{"Idle", str("zeph.saver")}})},
                                {"Displays", dict({{"A", saver}, {"B", dict({{"Idle", other}})}})}})}})}}),
       0},
      {"all spaces and top-level displays",
       dict({{"AllSpacesAndDisplays", dict({{"Idle", saver}})},
             {"Displays",
              dict({{"A", dict({{"Idle", saver}})},
                    {"B", dict({{"Type", str("linked")}, {"Linked", saver}, {"Idle", saver}})}})}}),
       2},
      {"outside the slots",
       dict({{"Other", dict({{"A", dict({{"Idle", saver}})}})},
             {"Idle", saver},
             {"Spaces", dict({{"S", dict({{"Idle", saver}, {"Default", dict({{"Linked", saver}})}})}})}}),
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    box.putStore(c.root, plist::Format::Xml);
    EXPECT_EQ(zephSlotCount(), c.count);
  }
}

}  // namespace
}  // namespace zeph
