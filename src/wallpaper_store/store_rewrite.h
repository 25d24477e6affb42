#ifndef ZEPH_WALLPAPER_STORE_STORE_REWRITE_H_
#define ZEPH_WALLPAPER_STORE_STORE_REWRITE_H_

#include "wallpaper_store/store_change.h"

namespace zeph {

/// Rewrites the store at storePath and, when there is one, the second store at
/// storePath2, in one go (changeStores()). Each is backed up, byte for byte,
/// in its own series (backUpStore()); then every record that can hold a
/// screen saver gets the saver's entry where its type reads it:
/// "individual", "idle" and untyped records get "Idle"; a "linked" record
/// becomes "individual" with its "Linked" entry as "Desktop"; a "desktop"
/// record gains "Idle" and becomes "individual"; any other record is left
/// alone and not counted. The system default's entry is reused only when it
/// selects the installed saver. Returns the slots set in each store; a store
/// that is absent counts 0. Refuses a store of more than 1,000,000 slots
/// (TooManySlots, before its backup), or one whose rewritten form would pass
/// 64 times its size plus 64 MiB ("<path>: rewritten, the store would grow
/// …"), before writing anything. Throws InstallerError (code 2: root is not
/// a dictionary), plist::Error, std::system_error or std::runtime_error,
/// every message naming the store.
StoreChangeReport rewriteWallpaperStore();

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_STORE_REWRITE_H_
