#ifndef ZEPH_WALLPAPER_STORE_STORE_BACKUPS_H_
#define ZEPH_WALLPAPER_STORE_STORE_BACKUPS_H_

#include <cstdint>
#include <exception>
#include <span>
#include <string>
#include <vector>

namespace zeph {

/// The folder of the store backups: realHome + "/Library/Application Support/zeph".
std::string backupFolder();

/// One of the wallpaper stores and the series its backups are kept in. Each
/// store has a series of its own, never mixed with the other's.
struct StoreFile {
  std::string path;          // storePath or storePath2
  std::string backupPrefix;  // "wallpaper-store-backup-" or "wallpaper-store2-backup-"
  /// Index2.plist: one that cannot be read or parsed, or whose top level is
  /// not a dictionary, is left as it is and the run goes on without it.
  bool bestEffort = false;
};

/// "<path>: <cause>" for an error `e` about `path`, the path said once: the
/// file layer's "open(<path>): Permission denied" reads "<path>: Permission denied".
std::string problemWith(const std::string& path, const std::exception& e);

/// Index.plist, the store the result line counts.
StoreFile firstStore();

/// Index2.plist, the second store macOS 26 keeps beside it.
StoreFile secondStore();

/// One store backup: "<prefix><time>[-<sequence>].plist".
struct StoreBackup {
  std::string path;
  std::string time;   // as in the name: 2026-12-06T21:21:43Z
  long sequence = 1;  // the "-N" suffix of backups taken in the same second; none is 1
};

/// The backups of `store` in backupFolder(), oldest first: by time, then by
/// sequence (so "-10" comes after "-9"). Other names are not its backups.
/// None when there is no backup folder; throws std::system_error naming the
/// folder when it cannot be listed.
std::vector<StoreBackup> storeBackups(const StoreFile& store);

/// Writes `bytes`, `store` as loaded, as a new backup with the store's
/// permission bits, unless its newest backup holds exactly these bytes.
/// Throws std::system_error: "couldn't back up <store> in <folder>: <cause>"
/// (throwWriteError()), or naming the folder it could not make or write in.
void backUpStore(const StoreFile& store, std::span<const std::uint8_t> bytes);

/// Removes what killed runs left in the store and backup folders: temporary
/// files under the names the file layer gives them, beside the file a
/// symbolically linked store points to. Call it only while
/// holding the home's lock. Never throws.
void removeStaleStoreTemporaries();

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_STORE_BACKUPS_H_
