#ifndef ZEPH_WALLPAPER_STORE_STORE_REPORT_H_
#define ZEPH_WALLPAPER_STORE_STORE_REPORT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "plist/value.h"
#include "wallpaper_store/store_backups.h"

namespace zeph {

/// The text of `zeph-store show`: one line per slot, in the walk's order,
/// with the record's "Type" and what the system shows from it as screen
/// saver (its "Idle", or the "Linked" entry of a linked record) and when that
/// was set and used, then the number of slots whose type reads "Idle" and
/// that hold the zeph saver. A record of a shape the installer leaves alone
/// reads "left alone (type X)". For example:
///
///   system default: ("individual") com.apple.wallpaper.choice.screen-saver file:///Users/a/…/zeph.saver
///     (set 2026-12-06T21:21:43Z, used 2026-12-06T21:21:43Z)   [on the same line]
///   all spaces and displays: ("linked", desktop and screen saver) com.apple.wallpaper.choice.aerials
///   space "ABC" default: left alone (type "slideshow")
///   1 slot holds the zeph saver
///
/// Identifiers and types are quoted; control characters, backslashes and
/// (inside quotes) quotation marks are escaped, so every line stays one line.
std::string storeReport(const plist::Dictionary& root);

/// A store to report on: where it was read and what it holds.
struct ReportedStore {
  std::string path;
  plist::Value document;
};

/// The same facts as storeReport(), for every store in `stores`, as one JSON
/// object (schema 1) for management tools, written on one line:
///
///   {"schema": 1,
///    "store": the first store's path (Index.plist's when there is one);
///             null when there is no store,
///    "stores": [path, ...],                (empty when there is no store)
///    "slots": [{"file": the path of the store the slot is in,
///               "place": "system default" | "all spaces and displays" |
///                        "top-level display" | "space default" | "display",
///               "space": string | null,       (null unless a space's slot)
///               "display": string | null,     (null unless a display slot)
///               "type": string | null,        (the record's "Type"; null when absent
///                                              or not a string)
///               "shape": "reads idle" | "linked" | "desktop" | "left alone",
///               "selection": [{"provider": string | null, "url": string | null}, ...],
///                                             (what it shows as screen saver;
///                                              empty: nothing)
///               "set": "2026-12-06T21:21:43Z" | null,  (ISO 8601 UTC; null when
///               "used": … | null,                      absent or out of range)
///               "zeph": bool}, ...],          (its "Idle" is read and holds the zeph saver)
///    "zeph": count of slots holding the zeph saver,
///    "total": count of slots whose type reads "Idle"}
///
/// Slots come store by store, each in the walk's order. Text that is not
/// valid UTF-8 (a lone surrogate the codec kept) has U+FFFD in place of the
/// bad bytes.
std::string storeReportJson(const std::vector<ReportedStore>& stores);

/// The slots of a store whose type reads "Idle", and those of them that show
/// the installed saver (slotShowsSaver()): the figures of `zeph-store status`.
struct SaverSlots {
  std::int64_t zeph = 0;
  std::int64_t total = 0;
};

/// The saver slots of the store `root`. Throws TooManySlots past the limit.
SaverSlots saverSlotsOf(const plist::Dictionary& root);

/// The line of `zeph-store backups` for `backup`, with its newline:
/// "<path>\t<time>\t<size in bytes>\t<slots showing the installed saver>";
/// "damaged" in place of the count for a backup that cannot be parsed or
/// whose top level is not a dictionary, and "-\tdamaged" in place of size
/// and count for one that cannot be read. Never throws but for memory.
std::string backupLine(const StoreBackup& backup);

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_STORE_REPORT_H_
