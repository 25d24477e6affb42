#include "wallpaper_store/store_restore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/process_values.h"
#include "plist/format.h"
#include "support/sandbox.h"
#include "support/store_builders.h"
#include "wallpaper_store/idle_entry.h"
#include "wallpaper_store/store_backups.h"
#include "wallpaper_store/store_rewrite.h"
#include "wallpaper_store/store_slots.h"

namespace zeph {
namespace {

namespace fs = std::filesystem;
using test_support::dict;
using test_support::HomeSandbox;
using test_support::memberAt;
using test_support::otherSlot;
using test_support::readBytes;
using test_support::realisticStore;
using test_support::withMember;
using test_support::writeBytes;

const char* const kSpace = "4F1E8C6A-1B1D-4C8E-9E55-0F1C2D3E4A5B";

// `root` with every idle slot set to the saver's entry, as the rewrite leaves it.
plist::Value allOnZeph(const plist::Value& root) {
  plist::Value zeph(zephIdleNode());
  return test_support::withSlotIdles(root, [&zeph](const Slot&) { return zeph; });
}

std::string putBackup(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  fs::path path = test_support::backupFolder(realHome) / name;
  writeBytes(path, bytes);
  return path.string();
}
std::string putBackup(const std::string& name, const plist::Value& root) {
  return putBackup(name, plist::write(root, plist::Format::Binary));
}

// Every shape, in both stores, each from its own backup series: the store as
// it was before the rewrite, converted records with their earlier shape, and
// the store the restore changed backed up beside the rewrite's backup.
TEST(StoreRestore, PutsEveryShapeBackAfterARewrite) {
  struct Case {
    const char* name;
    plist::Value first;
    std::optional<plist::Value> second = std::nullopt;
    plist::Format format = plist::Format::Binary;
  };
  const Case cases[] = {
      {"realistic", realisticStore(), std::nullopt, plist::Format::Xml},
      {"realistic fixture", plist::read(test_support::fixture("realistic_store.bplist")), std::nullopt,
       plist::Format::Xml},
      {"system default only", dict({{"SystemDefault", test_support::record(true)}})},
      {"no system default",
       dict({{"Spaces", dict({{"S", dict({{"Default", test_support::record(false)}})}})}})},
      {"Sonoma, all linked", test_support::sonomaLinkedStore()},
      {"all spaces", test_support::allSpacesStore()},
      {"mixed", test_support::mixedStore()},
      {"unknown types", test_support::unknownTypeStore()},
      {"macOS 26 pair", test_support::macos26FirstStore(), test_support::macos26SecondStore()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HomeSandbox box;
    box.putStore(c.first, c.format);
    if (c.second) test_support::putPlist(storePath2, *c.second);
    const StoreChangeReport set = rewriteWallpaperStore();
    ASSERT_GT(set.slots.index, 0);

    StoreChangeReport restore = restoreWallpaperStore();
    EXPECT_EQ(restore.slots.index, set.slots.index);
    EXPECT_EQ(restore.slots.index2, set.slots.index2);
    EXPECT_TRUE(restore.lateFailure.empty());
    ASSERT_EQ(restore.backupsUsed.size(), c.second ? 2u : 1u);
    EXPECT_EQ(readBytes(restore.backupsUsed.back()), plist::write(c.first, c.format));
    EXPECT_EQ(box.readStore(), c.first);
    EXPECT_EQ(storeBackups(firstStore()).size(), 2u);
    if (c.second) {
      EXPECT_EQ(restore.backupsUsed[0], storeBackups(secondStore()).front().path);
      EXPECT_EQ(plist::read(readBytes(storePath2)), *c.second);
      EXPECT_EQ(storeBackups(secondStore()).size(), 2u);
    }
  }
}

TEST(StoreRestore, KeepsWhatTheUserChangedMeanwhile) {
  HomeSandbox box;
  const plist::Value original = realisticStore();
  box.putStore(original, plist::Format::Binary);
  rewriteWallpaperStore();

  const std::vector<std::string> desktop{"Spaces", "", "Displays", "Main", "Desktop"};
  const std::vector<std::string> idle{"Spaces", kSpace, "Default", "Idle"};
  const plist::Value newDesktop = otherSlot("com.apple.wallpaper.choice.solid-color");
  const plist::Value newIdle = otherSlot("com.apple.wallpaper.choice.macintosh");
  box.putStore(withMember(withMember(box.readStore(), desktop, newDesktop), idle, newIdle),
               plist::Format::Binary);

  StoreChangeReport restore = restoreWallpaperStore();
  EXPECT_EQ(restore.slots.index, test_support::kRealisticStoreSlots - 1);
  const plist::Value expected = withMember(withMember(original, desktop, newDesktop), idle, newIdle);
  EXPECT_EQ(box.readStore(), expected);
}

TEST(StoreRestore, WithoutAnyBackupTheSlotsLoseTheirEntry) {
  HomeSandbox box;
  box.putStore(allOnZeph(realisticStore()), plist::Format::Binary);
  StoreChangeReport restore = restoreWallpaperStore();
  EXPECT_EQ(restore.slots.index, test_support::kRealisticStoreSlots);
  EXPECT_TRUE(restore.backupsUsed.empty());
  forEachSlot(*box.readStore().asDictionary(), [](const Slot& slot) { EXPECT_EQ(slot.idle, nullptr); });
  EXPECT_EQ(storeBackups(firstStore()).size(), 1u);  // the store as it was before the restore
}

// Per slot, the oldest backup that holds it without the saver; a slot no
// backup holds gets the oldest system default that is not the saver.
TEST(StoreRestore, TakesEachSlotFromTheOldestBackupThatHoldsItWithoutTheSaver) {
  HomeSandbox box;
  const plist::Value original = realisticStore();
  const std::vector<std::string> systemIdle{"SystemDefault", "Idle"};
  const plist::Value olderSystemIdle = otherSlot("com.apple.wallpaper.choice.older");
  // The oldest backup already had the saver in its system default.
  putBackup("wallpaper-store-backup-2026-01-01T00:00:00Z.plist",
            withMember(original, systemIdle, plist::Value(zephIdleNode())));
  putBackup("wallpaper-store-backup-2026-01-01T00:00:00Z-2.plist",
            withMember(original, systemIdle, olderSystemIdle));
  putBackup(
      "wallpaper-store-backup-2026-01-02T00:00:00Z.plist",
      withMember(original, {"Spaces", "", "Default", "Idle"}, otherSlot("com.apple.wallpaper.choice.newer")));
  // A space the backups never saw.
  plist::Value current =
      allOnZeph(withMember(original, {"Spaces", "NEW"}, memberAt(original, {"Spaces", kSpace})));
  box.putStore(current, plist::Format::Binary);

  StoreChangeReport restore = restoreWallpaperStore();
  EXPECT_EQ(restore.slots.index, test_support::kRealisticStoreSlots + 3);
  ASSERT_EQ(restore.backupsUsed.size(), 2u);
  EXPECT_NE(restore.backupsUsed[0].find("00:00:00Z.plist"), std::string::npos);
  EXPECT_NE(restore.backupsUsed[1].find("00:00:00Z-2.plist"), std::string::npos);
  const plist::Value restored = box.readStore();
  EXPECT_EQ(memberAt(restored, systemIdle), olderSystemIdle);
  EXPECT_EQ(memberAt(restored, {"Spaces", "", "Default", "Idle"}),
            memberAt(original, {"Spaces", "", "Default", "Idle"}));
  EXPECT_EQ(memberAt(restored, {"Spaces", "NEW", "Default", "Idle"}), olderSystemIdle);
  EXPECT_EQ(memberAt(restored, {"Spaces", "NEW", "Displays", "Main", "Idle"}), olderSystemIdle);
  // Held without an entry in the oldest backup: no entry now either.
  EXPECT_EQ(
      plist::member(memberAt(restored, {"Spaces", "", "Displays", "37D8832A-2D66-02CA-B9F7-8F30A301B230"}),
                    "Idle"),
      nullptr);
}

// A backup the removal may need that cannot be used stops it before any
// change: without it, every slot would lose what it had before zeph for good.
// One newer than those it needs is never read.
TEST(StoreRestore, StopsBeforeAnyChangeOnABackupItCannotUse) {
  const plist::Value original = realisticStore();
  std::vector<std::uint8_t> truncated = plist::write(allOnZeph(original), plist::Format::Binary);
  truncated.resize(truncated.size() / 2);  // as earlier versions could leave it
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> put;  // makes the backup at the path
    std::string cause;
  };
  const Case cases[] = {
      {"truncated", [&](const fs::path& at) { writeBytes(at, truncated); },
       ": a damaged binary property list ("},
      {"empty", [](const fs::path& at) { writeBytes(at, {}); }, ": property list: the document is empty"},
      {"not a dictionary",
       [](const fs::path& at) {
         writeBytes(at, plist::write(plist::Value(plist::Array{}), plist::Format::Binary));
       },
       ": the top level is not a dictionary"},
      {"a folder", [](const fs::path& at) { fs::create_directories(at); }, ": Is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HomeSandbox box;
    const fs::path bad =
        test_support::backupFolder(realHome) / "wallpaper-store-backup-2026-01-01T00:00:00Z.plist";
    c.put(bad);
    putBackup("wallpaper-store-backup-2026-01-02T00:00:00Z.plist", original);
    box.putStore(allOnZeph(original), plist::Format::Binary);
    const std::vector<std::uint8_t> before = readBytes(storePath);
    try {
      restoreWallpaperStore();
      ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
      const std::string message = e.what();
      const std::string end =
          "; nothing was changed (move that backup out of the folder to go on without it)";
      EXPECT_EQ(message.rfind(bad.string() + c.cause, 0), 0u) << message;
      EXPECT_TRUE(message.size() > end.size() && message.substr(message.size() - end.size()) == end)
          << message;
    }
    EXPECT_EQ(readBytes(storePath), before);

    // Newer than every backup the removal needs: never read.
    fs::remove_all(bad);
    putBackup("wallpaper-store-backup-2026-01-01T00:00:00Z.plist", original);
    c.put(test_support::backupFolder(realHome) / "wallpaper-store-backup-2026-01-03T00:00:00Z.plist");
    EXPECT_EQ(restoreWallpaperStore().slots.index, test_support::kRealisticStoreSlots);
    EXPECT_EQ(box.readStore(), original);
  }
}

TEST(StoreRestore, ChangesNothingWhereNoSlotSelectsTheSaver) {
  HomeSandbox box;
  EXPECT_EQ(restoreWallpaperStore().slots.index, 0);  // no store
  EXPECT_FALSE(fs::exists(box.backupFolder()));

  // Another home's saver is not the installed one.
  setProcessValues("/Users/olduser", true);
  const plist::Value migrated = allOnZeph(realisticStore());
  setProcessValues((box.path() / "Zoë Smith").string(), true);
  const std::vector<std::uint8_t> bytes = plist::write(migrated, plist::Format::Binary);
  box.putStore(bytes);
  EXPECT_EQ(restoreWallpaperStore().slots.index, 0);
  EXPECT_EQ(readBytes(storePath), bytes);

  // A second restore after a first finds nothing more to do.
  box.putStore(realisticStore(), plist::Format::Binary);
  rewriteWallpaperStore();
  EXPECT_EQ(restoreWallpaperStore().slots.index, test_support::kRealisticStoreSlots);
  const std::vector<std::uint8_t> restored = readBytes(storePath);
  EXPECT_EQ(restoreWallpaperStore().slots.index, 0);
  EXPECT_EQ(readBytes(storePath), restored);
}

// A desktop chosen since the rewrite stays; the screen saver goes back to
// what the linked record showed, and the record stays individual.
TEST(StoreRestore, AConvertedRecordWithANewDesktopKeepsIt) {
  HomeSandbox box;
  const plist::Value original = test_support::sonomaLinkedStore();
  box.putStore(original, plist::Format::Binary);
  rewriteWallpaperStore();
  const std::vector<std::string> desktop{"AllSpacesAndDisplays", "Desktop"};
  const plist::Value newDesktop = otherSlot("com.apple.wallpaper.choice.solid-color");
  box.putStore(withMember(box.readStore(), desktop, newDesktop), plist::Format::Binary);

  EXPECT_EQ(restoreWallpaperStore().slots.index, 6);
  const plist::Value restored = box.readStore();
  const plist::Value& record = memberAt(restored, {"AllSpacesAndDisplays"});
  EXPECT_EQ(memberAt(record, {"Type"}), plist::Value("individual"));
  EXPECT_EQ(memberAt(record, {"Desktop"}), newDesktop);
  EXPECT_EQ(memberAt(record, {"Idle"}), memberAt(original, {"AllSpacesAndDisplays", "Linked"}));
  EXPECT_EQ(record.asDictionary()->find("Linked"), nullptr);
  // Every other record is back as it was.
  EXPECT_EQ(withMember(restored, {"AllSpacesAndDisplays"}, memberAt(original, {"AllSpacesAndDisplays"})),
            original);
}

TEST(StoreBackups, ComeOldestFirstByTimeThenSequenceNotByName) {
  HomeSandbox box;
  for (const char* name : {"wallpaper-store-backup-2026-01-01T10:00:00Z-10.plist",
                           "wallpaper-store-backup-2026-01-01T10:00:00Z.plist",
                           "wallpaper-store-backup-2026-01-01T10:00:00Z-2.plist",
                           "wallpaper-store-backup-2026-01-01T09:59:59Z-3.plist",
                           "wallpaper-store-backup-2026-01-01T10:00:00Z-x.plist", "notes.plist",
                           ".wallpaper-store-backup-2026-01-01T10:00:00Z.plist.1234.tmp"}) {
    putBackup(name, {'x'});
  }
  std::vector<std::string> order;
  for (const StoreBackup& backup : storeBackups(firstStore())) {
    EXPECT_EQ(backup.path, box.backupFolder() + "/" + fs::path(backup.path).filename().string());
    order.push_back(backup.time + " " + std::to_string(backup.sequence));
  }
  EXPECT_EQ(order, (std::vector<std::string>{"2026-01-01T09:59:59Z 3", "2026-01-01T10:00:00Z 1",
                                             "2026-01-01T10:00:00Z 2", "2026-01-01T10:00:00Z 10"}));
}

}  // namespace
}  // namespace zeph
