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

constexpr const char* kBackupPrefix = "wallpaper-store-backup-";
constexpr const char* kBackupExtension = ".plist";
constexpr std::int64_t kMaxSlots = 1'000'000;

std::string folderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

// The order in time of a backup's name: its timestamp, then its "-N" suffix
// (none counts as 1). Other names give none.
std::optional<std::pair<std::string, long>> backupOrder(const std::string& name) {
  const std::string prefix = kBackupPrefix;
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

// Whether the newest backup holds exactly `bytes`: then a re-run adds
// nothing, and a disk filled by backups cannot stop it.
bool newestBackupHolds(std::span<const std::uint8_t> bytes) {
  std::vector<StoreBackup> backups = storeBackups();
  if (backups.empty()) return false;
  try {
    std::vector<std::uint8_t> newest = readFile(backups.back().path);
    return std::equal(newest.begin(), newest.end(), bytes.begin(), bytes.end());
  } catch (const std::exception&) {
    return false;  // an unreadable backup is no backup: write a new one
  }
}

}  // namespace

std::string backupFolder() { return realHome + "/Library/Application Support/zeph"; }

std::vector<StoreBackup> storeBackups() {
  std::vector<std::string> names;
  try {
    names = folderEntries(backupFolder());
  } catch (const std::system_error&) {
    return {};  // no backup folder yet
  }
  std::vector<std::pair<std::pair<std::string, long>, std::string>> ordered;
  for (std::string& name : names) {
    if (auto order = backupOrder(name)) ordered.emplace_back(std::move(*order), std::move(name));
  }
  std::sort(ordered.begin(), ordered.end());
  std::vector<StoreBackup> backups;
  backups.reserve(ordered.size());
  for (auto& [order, name] : ordered) {
    backups.push_back({backupFolder() + "/" + name, order.first, order.second});
  }
  return backups;
}

void backUpStore(std::span<const std::uint8_t> bytes) {
  if (newestBackupHolds(bytes)) return;
  createFolders(backupFolder());
  writeNewFile(backupFolder(), kBackupPrefix + isoTimestamp(currentDate()), kBackupExtension, bytes,
               filePermissions(storePath));
}

void removeStaleStoreTemporaries() {
  removeStaleTemporaries(folderOf(storePath), storePath.substr(storePath.rfind('/') + 1));
  removeStaleTemporaries(backupFolder(), kBackupPrefix);
}

std::int64_t rewriteWallpaperStore() {
  if (!storeExists(storePath)) return 0;
  std::uint64_t storeSize = 0;
  const plist::Value document = [&storeSize] {
    const std::vector<std::uint8_t> loaded = loadStore(storePath);
    storeSize = loaded.size();

    // The backup holds the bytes as loaded and is on the disk before the
    // store is touched; it is no more readable than the store.
    backUpStore(loaded);
    return parseStore(loaded, storePath);
  }();  // the loaded bytes go here, before the new ones are made
  const plist::Dictionary* root = document.asDictionary();
  if (!root) throw InstallerError(2, "Couldn't read the macOS screensaver settings file.");

  // Containers the file shares between many places are spelled out once per
  // place when rewritten: count first, so a small file cannot become a huge one.
  std::int64_t slots = 0;
  forEachSlot(*root, [&slots](const Slot&) { ++slots; });
  if (slots > kMaxSlots) {
    throw std::runtime_error(storePath + ": " + std::to_string(slots) + " screensaver slots, more than the " +
                             std::to_string(kMaxSlots) + " a store can sensibly have; it was left as it was");
  }

  // A saver entry already in the system default is kept, dates and all, so a
  // re-run changes nothing the agent would notice; an entry selecting any
  // other bundle is never spread to every slot. Every slot shares one entry.
  plist::Value chosen(zephIdleNode());
  if (const plist::Dictionary* systemDefault = plist::dictionaryMember(*root, "SystemDefault")) {
    const plist::Value* idle = systemDefault->find("Idle");
    if (idle && selectsInstalledSaver(*idle)) chosen = *idle;
  }
  plist::Value rewritten(replaceSlotIdles(*root, [&chosen](const Slot&) { return chosen; }));

  std::vector<std::uint8_t> bytes = plist::write(rewritten, plist::Format::Binary);
  const std::uint64_t limit = 64 * storeSize + (std::uint64_t{64} << 20);
  if (bytes.size() > limit) {
    throw std::runtime_error(storePath + ": rewritten, the store would grow from " + std::to_string(storeSize) +
                             " to " + std::to_string(bytes.size()) + " bytes; it was left as it was");
  }
  replaceFile(storePath, bytes);
  return slots;
}

}  // namespace zeph
