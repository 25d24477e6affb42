#ifndef ZEPH_WALLPAPER_STORE_STORE_RESTORE_H_
#define ZEPH_WALLPAPER_STORE_STORE_RESTORE_H_

#include "wallpaper_store/store_change.h"

namespace zeph {

/// Undoes the rewrite in the store at storePath and in the second store at
/// storePath2 when there is one, each from its own backup series. Backs each
/// store up first, as the rewrite does; then every slot that selects the
/// installed saver (slotShowsSaver()) gets back what it had before zeph,
/// from the oldest backup that holds this slot without the saver:
///  - a record the rewrite made "individual" from "linked" gets its earlier
///    shape back ("Type", "Linked", "Desktop" and "Idle" as they were) when its
///    "Desktop" is still the entry the rewrite gave it; when the user has
///    since chosen another desktop, that stays and "Idle" gets the entry the
///    linked record showed;
///  - a record that was "desktop" gets its type back and loses "Idle";
///  - any other gets back its earlier "Idle", or none when it had none.
/// A slot no backup holds gets the oldest pre-zeph system-default entry, or
/// loses its "Idle" when there is none. Slots that do not select the saver,
/// and every other key, stay as they are now. Nothing is changed unless every
/// backup it needs could be read: a backup folder that cannot be listed, or
/// a backup read on the way (oldest first, until every slot is found) that
/// cannot be read or parsed or holds no dictionary, throws "<path>: <cause>;
/// nothing was changed" (for a backup: move it aside to go on); only no
/// backup folder, or none in it, means no earlier entry. Writes only a store
/// in which a slot changes, both with replaceStores(); an Index2.plist that
/// cannot be used is left as it is (changeStores()). Returns the slots put
/// back in each store (0 for a store that is absent) and the backups their
/// entries came from, oldest first, per store. A restored store that would
/// pass 64 times its size plus 64 MiB is refused as the rewrite refuses
/// one ("<path>: restored, the store would grow …"). Throws as
/// rewriteWallpaperStore() does.
StoreChangeReport restoreWallpaperStore();

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_STORE_RESTORE_H_
