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

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_STORE_REPORT_H_
