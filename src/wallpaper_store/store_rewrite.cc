#include "wallpaper_store/store_rewrite.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <span>
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
  return std::make_pair(stamp, std::strtol(rest.c_str() + 1, nullptr, 10));  // clamps, never overflows
}

// Whether the newest backup of `store` holds exactly `bytes`: then a re-run
// adds nothing, and a disk filled by backups cannot stop it.
bool newestBackupHolds(const StoreFile& store, std::span<const std::uint8_t> bytes) {
  std::vector<StoreBackup> backups = storeBackups(store);
  if (backups.empty()) return false;
  try {
    std::vector<std::uint8_t> newest = readFile(backups.back().path);
    return std::equal(newest.begin(), newest.end(), bytes.begin(), bytes.end());
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
  StoreUpdate update;
  std::int64_t slots = 0;
};

// `keepLoaded`: whether the bytes as loaded are kept to put the store back.
RewrittenStore rewriteInMemory(const StoreFile& store, bool keepLoaded) {
  RewrittenStore result;
  result.update.path = store.path;
  result.update.loaded = loadStore(store.path);
  const std::uint64_t storeSize = result.update.loaded.size();

  // The backup holds the bytes as loaded and is on the disk before the
  // store is touched; it is no more readable than the store.
  backUpStore(store, result.update.loaded);
  const plist::Value document = parseStore(result.update.loaded, store.path);
  if (!keepLoaded) std::vector<std::uint8_t>().swap(result.update.loaded);  // before the new bytes are made
  const plist::Dictionary* root = document.asDictionary();
  if (!root) throw InstallerError(2, "Couldn't read the macOS screensaver settings file.");

  // Containers the file shares between many places are spelled out once per
  // place when rewritten: count first, so a small file cannot become a huge one.
  std::int64_t slots = 0;
  forEachSlot(*root, [&slots](const Slot&) { ++slots; });
  if (slots > kMaxSlots) {
    throw std::runtime_error(store.path + ": " + std::to_string(slots) + " screensaver slots, more than the " +
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

  result.update.bytes = plist::write(rewritten, plist::Format::Binary);
  const std::uint64_t limit = 64 * storeSize + (std::uint64_t{64} << 20);
  if (result.update.bytes.size() > limit) {
    throw std::runtime_error(store.path + ": rewritten, the store would grow from " + std::to_string(storeSize) +
                             " to " + std::to_string(result.update.bytes.size()) +
                             " bytes; it was left as it was");
  }
  return result;
}

}  // namespace

std::string backupFolder() { return realHome + "/Library/Application Support/zeph"; }

StoreFile firstStore() { return {storePath, "wallpaper-store-backup-"}; }

StoreFile secondStore() { return {storePath2, "wallpaper-store2-backup-"}; }

std::vector<StoreBackup> storeBackups(const StoreFile& store) {
  std::vector<std::string> names;
  try {
    names = folderEntries(backupFolder());
  } catch (const std::system_error&) {
    return {};  // no backup folder yet
  }
  std::vector<std::pair<std::pair<std::string, long>, std::string>> ordered;
  for (std::string& name : names) {
    if (auto order = backupOrder(name, store.backupPrefix)) ordered.emplace_back(std::move(*order), std::move(name));
  }
  std::sort(ordered.begin(), ordered.end());
  std::vector<StoreBackup> backups;
  backups.reserve(ordered.size());
  for (auto& [order, name] : ordered) {
    backups.push_back({backupFolder() + "/" + name, order.first, order.second});
  }
  return backups;
}

void backUpStore(const StoreFile& store, std::span<const std::uint8_t> bytes) {
  if (newestBackupHolds(store, bytes)) return;
  createFolders(backupFolder());
  writeNewFile(backupFolder(), store.backupPrefix + isoTimestamp(currentDate()), kBackupExtension, bytes,
               filePermissions(store.path));
}

void removeStaleStoreTemporaries() {
  for (const StoreFile& store : {firstStore(), secondStore()}) {
    removeStaleTemporaries(folderOf(store.path), store.path.substr(store.path.rfind('/') + 1));
    removeStaleTemporaries(backupFolder(), store.backupPrefix);
  }
}

void replaceStores(const std::optional<StoreUpdate>& second, const std::optional<StoreUpdate>& first) {
  std::optional<PreparedReplacement> secondReady;
  if (second) secondReady = prepareReplacement(second->path, second->bytes);
  std::optional<PreparedReplacement> firstReady;
  try {
    if (first) firstReady = prepareReplacement(first->path, first->bytes);
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
  }
  if (firstReady) {
    try {
      commitReplacement(*firstReady);
    } catch (const std::exception& e) {
      // Half a change is worse than none: which file the agent reads is not known.
      if (second) {
        try {
          replaceFile(second->path, second->loaded);
        } catch (const std::exception& back) {
          throw std::runtime_error(std::string(e.what()) + "; putting " + second->path +
                                   " back failed too: " + back.what());
        }
      }
      throw;
    }
  }
  // Both renamed: a failure to make that last is reported, but changes nothing.
  if (secondReady) syncFolder(folderOf(secondReady->target));
  if (firstReady) syncFolder(folderOf(firstReady->target));
}

StoreSlotCounts rewriteWallpaperStores() {
  const StoreFile first = firstStore();
  const StoreFile second = secondStore();
  const bool hasFirst = storeExists(first.path);
  const bool hasSecond = storeExists(second.path);

  // Both are checked and made before either is renamed into place, so a store
  // the installer cannot rewrite leaves the other as it was too.
  std::optional<RewrittenStore> secondNew;
  if (hasSecond) secondNew = rewriteInMemory(second, hasFirst);
  std::optional<RewrittenStore> firstNew;
  if (hasFirst) firstNew = rewriteInMemory(first, false);
  if (!firstNew && !secondNew) return {};

  auto updateOf = [](std::optional<RewrittenStore>& store) {
    return store ? std::optional(std::move(store->update)) : std::nullopt;
  };
  StoreSlotCounts counts{firstNew ? firstNew->slots : 0, secondNew ? secondNew->slots : 0};
  replaceStores(updateOf(secondNew), updateOf(firstNew));
  return counts;
}

}  // namespace zeph
