#ifndef ZEPH_WALLPAPER_STORE_STORE_REWRITE_H_
#define ZEPH_WALLPAPER_STORE_STORE_REWRITE_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "wallpaper_store/store_backups.h"
#include "wallpaper_store/store_document.h"

namespace zeph {

/// The slots a rewrite set in each store: Index.plist's (the number the
/// result line prints) and Index2.plist's.
struct StoreSlotCounts {
  std::int64_t index = 0;
  std::int64_t index2 = 0;
  /// What failed once the stores were renamed into place (a folder flush);
  /// empty when nothing did. The stores are changed either way.
  std::string lateFailure;
};

/// One store's part in a change of both: its new bytes (none when nothing in
/// it changes) and how many slots changed.
struct StoreChange {
  std::optional<StoreUpdate> update;
  std::int64_t slots = 0;
};

/// Changes the stores that are there as one: `change` makes Index2.plist's new
/// bytes, then Index.plist's, so that a store that cannot be changed leaves
/// the other as it was too; then replaceStores() puts them in place, calling
/// `change` again for a store someone wrote meanwhile. `keepLoaded` tells
/// `change` whether the bytes as loaded must be kept, to put that store
/// back. An Index2.plist that cannot be used (UnreadableStore, or
/// storeExists() failing on it) is left as it is, with
/// "warning: <path>: <reason>; left unchanged" on standard error. Returns the
/// slots each changed; throws what `change`, storeExists() and
/// replaceStores() throw.
StoreSlotCounts changeStores(
    const std::function<StoreChange(const StoreFile& store, bool keepLoaded)>& change);

/// Rewrites the store at storePath and, when there is one, the second store at
/// storePath2, in one go. Each is backed up, byte for byte, in its own series
/// (backUpStore()); then every record that can hold a screen saver gets the
/// saver's entry where its type reads it: "individual", "idle" and untyped
/// records get "Idle"; a "linked" record becomes "individual" with its
/// "Linked" entry as "Desktop"; a "desktop" record gains "Idle" and becomes
/// "individual"; any other record is left alone and not counted. The system
/// default's entry is reused only when it selects the installed saver. The
/// two are written with replaceStores(). A store that is absent counts 0.
/// Refuses a store of more than 1,000,000 slots (TooManySlots, before its
/// backup), or one whose rewritten form would pass 64 times its size plus
/// 64 MiB (shared containers spelled out), before writing anything. Throws InstallerError (code 2: root is
/// not a dictionary), plist::Error, std::system_error or std::runtime_error, every message naming the store.
StoreSlotCounts rewriteWallpaperStores();

/// rewriteWallpaperStores(), for callers that want only the count of Index.plist.
inline std::int64_t rewriteWallpaperStore() { return rewriteWallpaperStores().index; }

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_STORE_REWRITE_H_
