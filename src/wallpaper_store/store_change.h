#ifndef ZEPH_WALLPAPER_STORE_STORE_CHANGE_H_
#define ZEPH_WALLPAPER_STORE_STORE_CHANGE_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plist/value.h"
#include "wallpaper_store/store_backups.h"

namespace zeph {

/// A change to the wallpaper stores, in one direction: each store present is
/// loaded and backed up, its dictionary turned into the new one by an edit
/// that only computes (the rewrite, the restore), and both new stores are
/// put in place together with replaceStores().

/// A figure for each store: Index.plist's, the one result lines count, and
/// Index2.plist's, the second store macOS 26 keeps beside it.
struct PerStore {
  std::int64_t index = 0;
  std::int64_t index2 = 0;
  std::int64_t both() const { return index + index2; }
};

/// What an edit made of one store's dictionary.
struct StoreEdit {
  /// The new dictionary; none when nothing in the store is to change.
  std::optional<plist::Dictionary> document;
  /// The slots it changed.
  std::int64_t slots = 0;
  /// The backups of the store it took entries from, oldest first.
  std::vector<std::string> backupsUsed;
};

/// Turns `old`, the dictionary of `store` as loaded, into its new one. It
/// writes nothing; it may read the store's backups.
using StoreEditor = std::function<StoreEdit(const StoreFile& store, const plist::Dictionary& old)>;

/// What a change did to both stores.
struct StoreChangeReport {
  PerStore slots;                        // the slots changed in each; 0 for a store that is absent
  std::vector<std::string> backupsUsed;  // Index2.plist's, then Index.plist's, each once
  /// What failed once the stores were renamed into place (a folder flush);
  /// empty when nothing did. The stores are changed either way.
  std::string lateFailure;
};

/// Changes the stores that are there as one. Index2.plist is loaded, backed
/// up and edited first, then Index.plist, so that a store that cannot be
/// changed leaves the other as it was too; then replaceStores() puts the new
/// ones in place, loading and editing again a store someone wrote meanwhile.
/// Loading a store backs it up (backUpStore()) before it is parsed; a store
/// over the slot limit (TooManySlots) is refused before its backup. A new
/// store whose encoding would pass 64 times the size of the old plus 64 MiB
/// (shared containers spelled out) is refused before anything is written:
/// "<path>: <done>, the store would grow from N to M bytes; it was left as
/// it was". An Index2.plist that cannot be used (its presence test fails, it
/// cannot be read or parsed, its top level is not a dictionary) is left as
/// it is, with "warning: <path>: <reason>; left unchanged" on standard error.
/// Throws InstallerError (code 2) for an Index.plist whose top level is not
/// a dictionary, and what reading, parsing, backing up, `edit` and
/// replaceStores() throw, every message naming the store.
StoreChangeReport changeStores(std::string_view done, const StoreEditor& edit);

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_STORE_CHANGE_H_
