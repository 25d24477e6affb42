#ifndef ZEPH_WALLPAPER_STORE_STORE_REWRITE_H_
#define ZEPH_WALLPAPER_STORE_STORE_REWRITE_H_

#include <cstdint>
#include <optional>
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
};

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
/// Never throws.
std::vector<StoreBackup> storeBackups(const StoreFile& store);

/// Writes `bytes`, `store` as loaded, as a new backup with the store's
/// permission bits, unless its newest backup holds exactly these bytes.
/// Throws std::system_error naming the path.
void backUpStore(const StoreFile& store, std::span<const std::uint8_t> bytes);

/// A store's new bytes, and the bytes it had when loaded.
struct StoreUpdate {
  std::string path;
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint8_t> loaded;  // needed only for the second store, to put it back
};

/// Puts both updates in place as one change, as far as two files allow: both
/// new files are written and flushed before either is renamed into place,
/// Index2.plist's (`second`) first; when `first` then cannot be renamed,
/// `second`'s store is put back as it was loaded, and the error is thrown. A
/// run killed between the two renames leaves the second store new and the
/// first old, which the next run repairs by writing both. Throws
/// std::system_error or std::runtime_error, naming the path.
void replaceStores(const std::optional<StoreUpdate>& second, const std::optional<StoreUpdate>& first);

/// The slots a rewrite set in each store: Index.plist's (the number the
/// result line prints) and Index2.plist's.
struct StoreSlotCounts {
  std::int64_t index = 0;
  std::int64_t index2 = 0;
};

/// Rewrites the store at storePath and, when there is one, the second store at
/// storePath2, in one go. Each is backed up, byte for byte, in its own series
/// (backUpStore()); then every record that can hold a screen saver gets the
/// saver's entry where its type reads it: "individual", "idle" and untyped
/// records get "Idle"; a "linked" record becomes "individual" with its
/// "Linked" entry as "Desktop"; a "desktop" record gains "Idle" and becomes
/// "individual"; any other record is left alone and not counted. The system
/// default's entry is reused only when it selects the installed saver. The
/// two are written with replaceStores(). A store that is absent counts 0.
/// Refuses a store of more than 1,000,000 slots, or one whose rewritten form
/// would pass 64 times its size plus 64 MiB (shared containers spelled out),
/// before writing anything. Throws InstallerError (code 2: root is not a
/// dictionary), plist::Error, std::system_error or std::runtime_error, every
/// message naming the store.
StoreSlotCounts rewriteWallpaperStores();

/// rewriteWallpaperStores(), for callers that want only the count of Index.plist.
inline std::int64_t rewriteWallpaperStore() { return rewriteWallpaperStores().index; }

/// Removes what killed runs left in the store and backup folders: temporary
/// files under the names the file layer gives them. Call it only while
/// holding the home's lock. Never throws.
void removeStaleStoreTemporaries();

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_STORE_REWRITE_H_
