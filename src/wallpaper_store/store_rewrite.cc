#include "wallpaper_store/store_rewrite.h"

#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <string>
#include <vector>

#include "base/installer_error.h"
#include "base/process_values.h"
#include "platform/files.h"
#include "plist/format.h"
#include "wallpaper_store/idle_entry.h"
#include "wallpaper_store/store_document.h"

namespace zeph {
namespace {

constexpr const char* kBackupPrefix = "wallpaper-store-backup-";
constexpr const char* kBackup2Prefix = "wallpaper-store2-backup-";
constexpr const char* kBackupExtension = ".plist";
constexpr std::int64_t kMaxSlots = 1'000'000;

std::string folderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

// The order in time of a backup's name: its timestamp, then its "-N" suffix
// (none counts as 1). Other names give none.
std::optional<std::pair<std::string, long>> backupOrder(const std::string& name, const std::string& prefix) {
  const std::string extension = kBackupExtension;
  static constexpr std::size_t kStampSize = 20;  // 2026-12-06T21:21:43Z
  if (name.size() < prefix.size() + kStampSize + extension.size() || name.rfind(prefix, 0) != 0 ||
      name.compare(name.size() - extension.size(), extension.size(), extension) != 0) {
    return std::nullopt;
  }
  std::string stamp = name.substr(prefix.size(), kStampSize);
  std::string rest = name.substr(prefix.size() + kStampSize,
                                 name.size() - prefix.size() - kStampSize - extension.size());
  if (rest.empty()) return std::make_pair(stamp, 1L);
  if (rest.size() < 2 || rest[0] != '-' || rest.find_first_not_of("0123456789", 1) != std::string::npos) {
    return std::nullopt;
  }
  return std::make_pair(stamp, std::atol(rest.c_str() + 1));
}

// Whether the newest backup holds exactly `bytes`: then a re-run adds
// nothing, and a disk filled by backups cannot stop it.
bool newestBackupHolds(const std::string& prefix, const std::vector<std::uint8_t>& bytes) {
  std::optional<std::pair<std::string, long>> newest;
  std::string newestName;
  std::vector<std::string> names;
  try {
    names = folderEntries(backupFolder());
  } catch (const std::system_error&) {
    return false;  // no backup folder yet; making it is the backup's business
  }
  for (const std::string& name : names) {
    auto order = backupOrder(name, prefix);
    if (order && (!newest || *order > *newest)) {
      newest = order;
      newestName = name;
    }
  }
  if (!newest) return false;
  try {
    return readFile(backupFolder() + "/" + newestName) == bytes;
  } catch (const std::exception&) {
    return false;  // an unreadable backup is no backup: write a new one
  }
}

// What the walk does to one record to put the saver where its type reads it.
plist::Dictionary withSaver(const Slot& slot, const plist::Value& chosen, std::int64_t& written) {
  const plist::Dictionary& record = *slot.record;
  plist::Dictionary changed;
  switch (slot.shape()) {
    case RecordShape::ReadsIdle:
      changed = record;
      break;
    case RecordShape::DesktopOnly:
      changed = record;
      changed.set("Type", plist::Value("individual"));
      break;
    case RecordShape::Linked:
      // The desktop keeps showing what "Linked" showed; only the screen
      // saver changes, as when a person picks one in System Settings.
      for (const auto& [key, value] : record) {
        if (key != "Linked") changed.set(key, value);
      }
      changed.set("Type", plist::Value("individual"));
      changed.set("Desktop", *record.find("Linked"));
      break;
    case RecordShape::Unknown:
      return record;  // a shape nobody reported: writing into it could mean anything
  }
  changed.set("Idle", chosen);
  ++written;
  return changed;
}

// One store loaded, backed up and rewritten in memory, not yet written.
struct RewrittenStore {
  std::vector<std::uint8_t> loaded;  // kept only when asked, to put the store back
  std::vector<std::uint8_t> bytes;
  std::int64_t slots = 0;
};

RewrittenStore rewriteInMemory(const std::string& path, const char* backupPrefix, bool keepLoaded) {
  RewrittenStore result;
  std::uint64_t storeSize = 0;
  const plist::Value document = [&] {
    std::vector<std::uint8_t> loaded = loadStore(path);
    storeSize = loaded.size();

    // The backup holds the bytes as loaded and is on the disk before the
    // store is touched; it is no more readable than the store.
    if (!newestBackupHolds(backupPrefix, loaded)) {
      createFolders(backupFolder());
      writeNewFile(backupFolder(), backupPrefix + isoTimestamp(currentDate()), kBackupExtension, loaded,
                   filePermissions(path));
    }
    plist::Value parsed = parseStore(loaded, path);
    if (keepLoaded) result.loaded = std::move(loaded);
    return parsed;
  }();  // otherwise the loaded bytes go here, before the new ones are made
  const plist::Dictionary* root = document.asDictionary();
  if (!root) throw InstallerError(2, "Couldn't read the macOS screensaver settings file.");

  // Containers the file shares between many places are spelled out once per
  // place when rewritten: count first, so a small file cannot become a huge one.
  std::int64_t slots = 0;
  forEachSlot(*root, [&slots](const Slot&) { ++slots; });
  if (slots > kMaxSlots) {
    throw std::runtime_error(path + ": " + std::to_string(slots) + " screensaver slots, more than the " +
                             std::to_string(kMaxSlots) + " a store can sensibly have; it was left as it was");
  }

  // A saver entry already in the system default is kept, dates and all, so a
  // re-run changes nothing the agent would notice; an entry selecting any
  // other bundle is never spread to every slot. Every slot shares one entry.
  plist::Value chosen(zephIdleNode());
  if (const plist::Dictionary* systemDefault = plist::dictionaryMember(*root, "SystemDefault")) {
    const plist::Value* idle = systemDefault->find("Idle");
    if (idle && recordShape(*systemDefault) == RecordShape::ReadsIdle && selectsInstalledSaver(*idle)) {
      chosen = *idle;
    }
  }
  plist::Value rewritten(replaceSlotRecords(
      *root, [&chosen, &result](const Slot& slot) { return withSaver(slot, chosen, result.slots); }));

  result.bytes = plist::write(rewritten, plist::Format::Binary);
  const std::uint64_t limit = 64 * storeSize + (std::uint64_t{64} << 20);
  if (result.bytes.size() > limit) {
    throw std::runtime_error(path + ": rewritten, the store would grow from " + std::to_string(storeSize) +
                             " to " + std::to_string(result.bytes.size()) + " bytes; it was left as it was");
  }
  return result;
}

}  // namespace

std::string backupFolder() { return realHome + "/Library/Application Support/zeph"; }

void removeStaleStoreTemporaries() {
  for (const std::string* path : {&storePath, &storePath2}) {
    removeStaleTemporaries(folderOf(*path), path->substr(path->rfind('/') + 1));
  }
  removeStaleTemporaries(backupFolder(), kBackupPrefix);
  removeStaleTemporaries(backupFolder(), kBackup2Prefix);
}

StoreSlotCounts rewriteWallpaperStores() {
  const bool hasFirst = storeExists(storePath);
  const bool hasSecond = storeExists(storePath2);
  StoreSlotCounts counts;
  if (!hasFirst && !hasSecond) return counts;

  // Both are checked and made before either is renamed into place, so a store
  // the installer cannot rewrite leaves the other as it was too.
  std::optional<RewrittenStore> second;
  if (hasSecond) second = rewriteInMemory(storePath2, kBackup2Prefix, hasFirst);
  std::optional<RewrittenStore> first;
  if (hasFirst) first = rewriteInMemory(storePath, kBackupPrefix, false);

  std::optional<PreparedReplacement> secondReady;
  if (second) secondReady = prepareReplacement(storePath2, second->bytes);
  std::optional<PreparedReplacement> firstReady;
  try {
    if (first) firstReady = prepareReplacement(storePath, first->bytes);
  } catch (...) {
    if (secondReady) discardReplacement(*secondReady);
    throw;
  }

  if (secondReady) {
    try {
      commitReplacement(*secondReady);
    } catch (...) {
      if (firstReady) discardReplacement(*firstReady);
      throw;
    }
    counts.index2 = second->slots;
  }
  if (firstReady) {
    try {
      commitReplacement(*firstReady);
    } catch (const std::exception& e) {
      // Half a change is worse than none: which file the agent reads is not known.
      if (secondReady) {
        try {
          replaceFile(storePath2, second->loaded);
        } catch (const std::exception& back) {
          throw std::runtime_error(std::string(e.what()) + "; putting " + storePath2 +
                                   " back failed too: " + back.what());
        }
      }
      throw;
    }
    counts.index = first->slots;
  }
  // Both renamed: a failure to make that last is reported, but changes nothing.
  if (secondReady) syncFolder(folderOf(secondReady->target));
  if (firstReady) syncFolder(folderOf(firstReady->target));
  return counts;
}

}  // namespace zeph
