#ifndef ZEPH_WALLPAPER_STORE_STORE_RESTORE_H_
#define ZEPH_WALLPAPER_STORE_STORE_RESTORE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace zeph {

/// What restoreWallpaperStore() did.
struct StoreRestore {
  std::int64_t slots = 0;                // slots that selected the saver and were put back
  std::vector<std::string> backupsUsed;  // the backups entries came from, oldest first
  std::vector<std::string> skipped;      // "<path>: <reason>" for backups that could not be read
};

/// Undoes the rewrite in the store at storePath. Backs the store up first,
/// as the rewrite does; then every slot whose entry selects the installed
/// saver gets back its entry from before zeph: the one in the oldest backup
/// that holds this slot with an entry that does not select the saver (a slot
/// held with no entry loses its entry); failing that, the oldest such
/// system-default entry; failing that, none. Slots that do not select the
/// saver and every other key stay as they are now. Backups that cannot be
/// read or parsed (truncated by earlier versions) are skipped. Writes the
/// store only when a slot changes, all or nothing. Returns 0 slots when
/// there is no store. Throws as rewriteWallpaperStore() does.
StoreRestore restoreWallpaperStore();

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_STORE_RESTORE_H_
