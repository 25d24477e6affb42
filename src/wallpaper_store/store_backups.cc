#include "wallpaper_store/store_backups.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <optional>
#include <system_error>
#include <utility>

#include "base/process_values.h"
#include "platform/files.h"
#include "wallpaper_store/store_document.h"
#include "wallpaper_store/store_time.h"

namespace zeph {
namespace {

constexpr const char* kBackupExtension = ".plist";

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
  std::string rest =
      name.substr(prefix.size() + kStampSize, name.size() - prefix.size() - kStampSize - extension.size());
  if (rest.empty()) return std::make_pair(stamp, 1L);
  if (rest.size() < 2 || rest[0] != '-' || rest.find_first_not_of("0123456789", 1) != std::string::npos) {
    return std::nullopt;
  }
  return std::make_pair(stamp, std::strtol(rest.c_str() + 1, nullptr, 10));  // clamps, never overflows
}

// Whether the newest backup of `store` holds exactly `bytes`: then a re-run
// adds nothing, and a disk filled by backups cannot stop it.
bool newestBackupHolds(const StoreFile& store, std::span<const std::uint8_t> bytes) {
  try {
    std::vector<StoreBackup> backups = storeBackups(store);
    if (backups.empty()) return false;
    std::vector<std::uint8_t> newest = readFile(backups.back().path);
    return std::equal(newest.begin(), newest.end(), bytes.begin(), bytes.end());
  } catch (const std::exception&) {
    return false;  // an unreadable backup is no backup: write a new one
  }
}

// Whether nothing is at the backup folder's path (no dangling link either):
// no backups, as opposed to a folder that cannot be looked at.
bool noBackupFolder() {
  try {
    return !regularFileExists(backupFolder());
  } catch (const std::exception&) {
    return false;  // a folder, or what keeps it from view
  }
}

}  // namespace

std::string backupFolder() { return realHome + "/Library/Application Support/zeph"; }

StoreFile firstStore() { return {storePath, "wallpaper-store-backup-"}; }

StoreFile secondStore() { return {storePath2, "wallpaper-store2-backup-", true}; }

std::string problemWith(const std::string& path, const std::exception& e) {
  std::string message = e.what();
  if (message.rfind(path + ": ", 0) == 0) return message;
  if (message.rfind(path + " ", 0) == 0) return path + ": " + message.substr(path.size() + 1);
  // "call(<path>): cause", as the file layer says it.
  const std::string named = "(" + path + "): ";
  const std::size_t at = message.find(named);
  if (at != std::string::npos && message.find_first_of(" /") > at) {
    return path + ": " + message.substr(at + named.size());
  }
  return path + ": " + message;
}

std::vector<StoreBackup> storeBackups(const StoreFile& store) {
  std::vector<std::string> names;
  try {
    names = folderEntries(backupFolder());
  } catch (const std::system_error&) {
    if (noBackupFolder()) return {};
    throw;
  }
  std::vector<std::pair<std::pair<std::string, long>, std::string>> ordered;
  for (std::string& name : names) {
    if (auto order = backupOrder(name, store.backupPrefix))
      ordered.emplace_back(std::move(*order), std::move(name));
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
  try {
    writeNewFile(backupFolder(), store.backupPrefix + isoTimestamp(currentDate()), kBackupExtension, bytes,
                 filePermissions(store.path));
  } catch (const std::system_error& e) {
    throwWriteError(e, "back up " + store.path + " in " + backupFolder());
  }
}

void removeStaleStoreTemporaries() {
  for (const StoreFile& store : {firstStore(), secondStore()}) {
    removeStaleReplacements(store.path);
    removeStaleTemporaries(backupFolder(), store.backupPrefix);
  }
}

}  // namespace zeph
