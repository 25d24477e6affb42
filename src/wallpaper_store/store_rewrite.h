#ifndef ZEPH_WALLPAPER_STORE_STORE_REWRITE_H_
#define ZEPH_WALLPAPER_STORE_STORE_REWRITE_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zeph {

/// The folder of the store backups: realHome + "/Library/Application Support/zeph".
std::string backupFolder();

/// One store backup: "wallpaper-store-backup-<time>[-<sequence>].plist".
struct StoreBackup {
  std::string path;
  std::string time;   // as in the name: 2026-12-06T21:21:43Z
  long sequence = 1;  // the "-N" suffix of backups taken in the same second; none is 1
};

/// The backups in backupFolder(), oldest first: by time, then by sequence
/// (so "-10" comes after "-9"). Other names are not backups. Never throws.
std::vector<StoreBackup> storeBackups();

/// Writes `bytes`, the store as loaded, as a new backup with the store's
/// permission bits, unless the newest backup holds exactly these bytes.
/// Throws std::system_error naming the path.
void backUpStore(std::span<const std::uint8_t> bytes);

/// Backs the store at storePath up, byte for byte, unless the newest backup
/// already holds exactly these bytes, then sets every idle slot to the
/// saver's entry and writes the store back in binary. The system default's
/// entry is reused only when it selects the installed saver. Returns the
/// number of slots written (0 when there is no store). Refuses a store of
/// more than 1,000,000 slots, or one whose rewritten form would pass 64 times
/// its size plus 64 MiB (shared containers spelled out), before writing it.
/// Throws InstallerError (code 2: root is not a dictionary), plist::Error,
/// std::system_error or std::runtime_error, every message naming the store.
std::int64_t rewriteWallpaperStore();

/// Removes what killed runs left in the store and backup folders: temporary
/// files under the names the file layer gives them. Call it only while
/// holding the home's lock. Never throws.
void removeStaleStoreTemporaries();

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_STORE_REWRITE_H_
