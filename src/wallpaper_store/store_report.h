#ifndef ZEPH_WALLPAPER_STORE_STORE_REPORT_H_
#define ZEPH_WALLPAPER_STORE_STORE_REPORT_H_

#include <string>

#include "plist/value.h"

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

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_STORE_REPORT_H_
