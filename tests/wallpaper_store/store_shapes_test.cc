// The rewrite and the count on the store shapes reported from real Macs:
// linked records, the all-spaces record, top-level displays, the second store.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/installer_error.h"
#include "base/process_values.h"
#include "plist/format.h"
#include "support/sandbox.h"
#include "support/store_builders.h"
#include "wallpaper_store/idle_entry.h"
#include "wallpaper_store/slot_count.h"
#include "wallpaper_store/store_restore.h"
#include "wallpaper_store/store_rewrite.h"
#include "wallpaper_store/store_slots.h"

namespace zeph {
namespace {

using test_support::dict;
using test_support::HomeSandbox;
using test_support::readBytes;
using test_support::str;

std::vector<plist::Value> records(const plist::Value& root) {
  std::vector<plist::Value> found;
  forEachSlot(*root.asDictionary(), [&found](const Slot& slot) { found.emplace_back(*slot.record); });
  return found;
}

const plist::Value& member(const plist::Value& record, const char* key) {
  static const plist::Value kAbsent(str("(absent)"));
  const plist::Value* value = record.asDictionary()->find(key);
  return value ? *value : kAbsent;
}

// `at` with each dictionary at `path` below it ("*" any key) emptied.
plist::Value emptiedAt(const plist::Value& at, const std::vector<std::string>& path, std::size_t depth = 0) {
  const plist::Dictionary* holder = at.asDictionary();
  if (!holder) return at;
  if (depth == path.size()) return plist::Value(plist::Dictionary());
  plist::Dictionary out = *holder;
  for (const auto& [key, value] : *holder) {
    if (path[depth] == "*" || path[depth] == key) out.set(key, emptiedAt(value, path, depth + 1));
  }
  return plist::Value(std::move(out));
}

// `root` with every record emptied, found by the store's layout rather than by
// the walk under test.
plist::Value outsideTheRecords(plist::Value root) {
  for (const std::vector<std::string>& place : {std::vector<std::string>{"SystemDefault"},
                                                {"AllSpacesAndDisplays"},
                                                {"Displays", "*"},
                                                {"Spaces", "*", "Default"},
                                                {"Spaces", "*", "Displays", "*"}}) {
    root = emptiedAt(root, place);
  }
  return root;
}

// Checks that `after` is `before` with the saver written where each record's
// type reads it, record by record, and the same outside the records; returns
// how many records got it.
std::int64_t expectSaverWhereRead(const plist::Value& before, const plist::Value& after) {
  EXPECT_EQ(outsideTheRecords(after), outsideTheRecords(before));
  std::vector<plist::Value> old = records(before);
  std::vector<plist::Value> now = records(after);
  EXPECT_EQ(old.size(), now.size());
  std::int64_t set = 0;
  for (std::size_t i = 0; i < old.size() && i < now.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i) + ": " + ::testing::PrintToString(old[i]));
    RecordShape shape = recordShape(*old[i].asDictionary());
    if (shape == RecordShape::Unknown) {
      EXPECT_EQ(now[i], old[i]);
      continue;
    }
    ++set;
    EXPECT_TRUE(selectsInstalledSaver(member(now[i], "Idle").asDictionary()));
    EXPECT_EQ(now[i].asDictionary()->find("Linked"), nullptr);
    if (shape == RecordShape::Linked) {
      EXPECT_EQ(member(now[i], "Type"), str("individual"));
      EXPECT_EQ(member(now[i], "Desktop"), member(old[i], "Linked"));  // content and dates, exactly
    } else {
      EXPECT_EQ(member(now[i], "Desktop"), member(old[i], "Desktop"));
      EXPECT_EQ(member(now[i], "Type"),
                shape == RecordShape::DesktopOnly ? str("individual") : member(old[i], "Type"));
    }
    EXPECT_EQ(now[i].asDictionary()->size(), 3u - (now[i].asDictionary()->find("Desktop") ? 0u : 1u) -
                                                 (now[i].asDictionary()->find("Type") ? 0u : 1u));
  }
  return set;
}

std::vector<std::string> backupsIn(const HomeSandbox& box, const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& name : box.backups()) {
    if (name.rfind(prefix, 0) == 0) found.push_back(name);
  }
  return found;
}

TEST(StoreShapes, EachReportedShapeGetsTheSaverWhereItsTypeReadsIt) {
  struct Case {
    const char* name;
    plist::Value store;
    std::int64_t slots;
  };
  const Case cases[] = {
      {"Sonoma, all linked", test_support::sonomaLinkedStore(), 6},
      {"all spaces", test_support::allSpacesStore(), 2},
      {"mixed", test_support::mixedStore(), 7},
      {"macOS 26 Index.plist", test_support::macos26FirstStore(), 3},
      {"macOS 26 Index2.plist alone", test_support::macos26SecondStore(), 8},
      {"unknown types", test_support::unknownTypeStore(), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HomeSandbox box;
    box.putStore(c.store, plist::Format::Binary);
    EXPECT_EQ(zephSlotCount(), 0);
    StoreChangeReport counts = rewriteWallpaperStore();
    EXPECT_EQ(counts.slots.index, c.slots);
    EXPECT_EQ(counts.slots.index2, 0);
    EXPECT_EQ(expectSaverWhereRead(c.store, box.readStore()), c.slots);
    EXPECT_EQ(zephSlotCount(), c.slots);

    // A second run finds every slot set and converts nothing more.
    plist::Value once = box.readStore();
    EXPECT_EQ(rewriteWallpaperStore().slots.index, c.slots);
    EXPECT_EQ(box.readStore(), once);
  }
}

// An "Idle" the record's type does not read shows nothing: counting it would
// report a saver the screen never shows.
TEST(StoreShapes, CountsOnlyWhereTheTypeReadsIdle) {
  HomeSandbox box;
  plist::Value saver(zephIdleNode());
  auto withIdle = [&saver](plist::Value record) {
    plist::Dictionary d = *record.asDictionary();
    d.set("Idle", saver);
    return plist::Value(std::move(d));
  };
  plist::Value root = dict({
      {"SystemDefault", withIdle(test_support::linkedRecord(1))},
      {"AllSpacesAndDisplays", withIdle(test_support::typedRecord("desktop", "Desktop"))},
      {"Displays", dict({{"A", withIdle(test_support::typedRecord("slideshow", "Desktop"))},
                         {"B", withIdle(test_support::typedRecord("idle", "Desktop"))},
                         {"C", withIdle(dict({}))}})},
  });
  box.putStore(root, plist::Format::Binary);
  EXPECT_EQ(zephSlotCount(), 2);
  // The linked record's Idle is not the system default's reading: a fresh entry is built.
  EXPECT_EQ(rewriteWallpaperStore().slots.index, 4);
  EXPECT_EQ(zephSlotCount(), 4);
  EXPECT_EQ(member(member(box.readStore(), "Displays"), "A"), member(member(root, "Displays"), "A"));
}

// macOS 26: each store is rewritten with a backup series of its own; the
// second alone when there is no first.
TEST(StoreShapes, EachStoreIsRewrittenWithItsOwnBackups) {
  for (bool withFirst : {true, false}) {
    SCOPED_TRACE(withFirst ? "both stores" : "only Index2.plist");
    HomeSandbox box;
    const plist::Value first = test_support::macos26FirstStore();
    const plist::Value second = test_support::macos26SecondStore();
    const std::vector<std::uint8_t> firstBytes =
        withFirst ? test_support::putPlist(storePath, first) : std::vector<std::uint8_t>();
    const std::vector<std::uint8_t> secondBytes = test_support::putPlist(storePath2, second);

    StoreChangeReport counts = rewriteWallpaperStore();
    EXPECT_EQ(counts.slots.index, withFirst ? 3 : 0);
    EXPECT_EQ(counts.slots.index2, 8);
    if (withFirst) {
      EXPECT_EQ(expectSaverWhereRead(first, box.readStore()), 3);
    }
    EXPECT_EQ(expectSaverWhereRead(second, plist::read(readBytes(storePath2))), 8);
    EXPECT_EQ(zephSlotCount(storePath2), 8);
    EXPECT_EQ(zephSlotCount(), withFirst ? 3 : 0);
    EXPECT_EQ(test_support::namesIn(box.storeFolder()),
              withFirst ? (std::vector<std::string>{"Index.plist", "Index2.plist"})
                        : std::vector<std::string>{"Index2.plist"});

    std::vector<std::string> firstSeries = backupsIn(box, "wallpaper-store-backup-");
    std::vector<std::string> secondSeries = backupsIn(box, "wallpaper-store2-backup-");
    ASSERT_EQ(firstSeries.size(), withFirst ? 1u : 0u);
    ASSERT_EQ(secondSeries.size(), 1u);
    EXPECT_EQ(box.backups().size(), firstSeries.size() + 1);
    if (withFirst) {
      EXPECT_EQ(readBytes(box.backupFolder() + "/" + firstSeries[0]), firstBytes);
    }
    EXPECT_EQ(readBytes(box.backupFolder() + "/" + secondSeries[0]), secondBytes);
  }
}

// Each backup series is deduplicated on its own: the second run backs up the
// rewritten stores, the third finds them backed up already.
TEST(StoreShapes, EachBackupSeriesKeepsOneCopyOfEachStore) {
  HomeSandbox box;
  test_support::putPlist(storePath, test_support::macos26FirstStore());
  test_support::putPlist(storePath2, test_support::macos26SecondStore());
  for (int run = 0; run < 3; ++run) rewriteWallpaperStore();
  EXPECT_EQ(backupsIn(box, "wallpaper-store-backup-").size(), 2u);
  EXPECT_EQ(backupsIn(box, "wallpaper-store2-backup-").size(), 2u);
}

// Index.plist keeps every rule: one the installer cannot rewrite stops the
// run, with Index2.plist left as it was. Index2.plist is best effort: one that
// cannot be read or parsed, or is no dictionary, is backed up when it is a
// file, left exactly as it is, and named in a warning; Index.plist is
// rewritten, and restored, all the same.
TEST(StoreShapes, AStorePairWithOneThatCannotBeUsed) {
  std::vector<std::uint8_t> truncated =
      plist::write(test_support::macos26SecondStore(), plist::Format::Binary);
  truncated.resize(truncated.size() / 2);
  struct Case {
    const char* name;
    std::function<void(const std::string&)> put;  // puts the damaged store at the path
    std::string reason;                           // "" the first store is the damaged one
    bool backedUp = true;
  };
  const Case cases[] = {
      {"Index.plist an array",
       [](const std::string& at) { test_support::putPlist(at, test_support::array({str("not a store")})); },
       ""},
      {"Index2.plist an array",
       [](const std::string& at) { test_support::putPlist(at, test_support::array({str("not a store")})); },
       "the top level is not a dictionary"},
      {"Index2.plist garbage",
       [](const std::string& at) {
         test_support::writeBytes(at, {'{', '{', 0xFF});
       },
       "old-style plist: "},
      {"Index2.plist truncated", [&](const std::string& at) { test_support::writeBytes(at, truncated); },
       "a damaged binary property list ("},
      {"Index2.plist a folder", [](const std::string& at) { std::filesystem::create_directories(at); },
       "Is a directory", false},
      {"Index2.plist a dangling link",
       [](const std::string& at) { std::filesystem::create_symlink("nowhere.plist", at); },
       ": is a dangling link to nowhere.plist", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HomeSandbox box;
    const bool secondBroken = !c.reason.empty();
    box.putStore(test_support::macos26FirstStore(), plist::Format::Binary);
    test_support::putPlist(storePath2, test_support::macos26SecondStore());
    const std::string broken = secondBroken ? storePath2 : storePath;
    std::filesystem::remove(broken);
    c.put(broken);
    const std::vector<std::uint8_t> firstBytes = readBytes(storePath);
    const bool brokenIsFile = std::filesystem::is_regular_file(std::filesystem::symlink_status(broken));
    const std::vector<std::uint8_t> brokenBytes =
        brokenIsFile ? readBytes(broken) : std::vector<std::uint8_t>();

    ::testing::internal::CaptureStderr();
    if (!secondBroken) {
      EXPECT_THROW(rewriteWallpaperStore(), InstallerError);
      ::testing::internal::GetCapturedStderr();
      EXPECT_EQ(readBytes(storePath2),
                plist::write(test_support::macos26SecondStore(), plist::Format::Binary));
      EXPECT_EQ(readBytes(storePath), firstBytes);
      continue;
    }
    const StoreChangeReport counts = rewriteWallpaperStore();
    const std::string warning = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(counts.slots.index, 3);
    EXPECT_EQ(counts.slots.index2, 0);
    EXPECT_EQ(zephSlotCount(), 3);
    const std::string start = "warning: " + storePath2 + ": ";
    EXPECT_EQ(warning.rfind(start, 0), 0u) << warning;
    EXPECT_NE(warning.find(c.reason), std::string::npos) << warning;
    EXPECT_EQ(warning.substr(warning.size() - 17), "; left unchanged\n") << warning;
    EXPECT_EQ(warning.find('\n'), warning.size() - 1) << warning;  // one line, the path said once
    EXPECT_EQ(warning.find(storePath2, start.size()), std::string::npos) << warning;
    if (brokenIsFile) {
      EXPECT_EQ(readBytes(broken), brokenBytes);
    }
    EXPECT_EQ(backupsIn(box, "wallpaper-store2-backup-").size(), c.backedUp ? 1u : 0u);

    // The removal goes on the same way.
    ::testing::internal::CaptureStderr();
    const StoreChangeReport restore = restoreWallpaperStore();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), warning);
    EXPECT_EQ(restore.slots.index, 3);
    EXPECT_EQ(box.readStore(), test_support::macos26FirstStore());
    if (brokenIsFile) {
      EXPECT_EQ(readBytes(broken), brokenBytes);
    }
  }
}

}  // namespace
}  // namespace zeph
