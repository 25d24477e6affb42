#ifndef ZEPH_WALLPAPER_STORE_STORE_REPORT_H_
#define ZEPH_WALLPAPER_STORE_STORE_REPORT_H_

#include <string>

#include "plist/value.h"

namespace zeph {

/// The text of `zeph-store show`: one line per idle slot, in the walk's order,
/// saying what its entry selects and when it was set and used, then the
/// number of slots that hold the zeph saver. For example:
///
///   system default: com.apple.wallpaper.choice.screen-saver file:///Users/a/…/zeph.saver
///     (set 2026-12-06T21:21:43Z, used 2026-12-06T21:21:43Z)   [on the same line]
///   space "ABC" default: none
///   1 slot holds the zeph saver
///
/// Identifiers are quoted; control characters, backslashes and (inside quotes)
/// quotation marks are escaped, so every line stays one line.
std::string storeReport(const plist::Dictionary& root);

/// The same facts as storeReport(), as one JSON object (schema 1) for
/// management tools, written on one line:
///
///   {"schema": 1,
///    "store": path,
///    "slots": [{"place": "system default" | "space default" | "display",
///               "space": string | null,       (null for the system default)
///               "display": string | null,     (null unless a display slot)
///               "selection": [{"provider": string | null, "url": string | null}, ...],
///                                             (empty: the slot selects nothing)
///               "set": "2026-12-06T21:21:43Z" | null,  (ISO 8601 UTC; null when
///               "used": … | null,                      absent or out of range)
///               "zeph": bool}, ...],          (the slot holds the zeph saver)
///    "zeph": count of slots holding the zeph saver,
///    "total": count of slots}
///
/// Slots come in the walk's order. Text that is not valid UTF-8 (a lone
/// surrogate the codec kept) has U+FFFD in place of the bad bytes.
std::string storeReportJson(const plist::Dictionary& root, const std::string& path);

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_STORE_REPORT_H_
