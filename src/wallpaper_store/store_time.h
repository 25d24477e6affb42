#ifndef ZEPH_WALLPAPER_STORE_STORE_TIME_H_
#define ZEPH_WALLPAPER_STORE_STORE_TIME_H_

#include <string>

#include "plist/value.h"

namespace zeph {

/// The clock's current time as the store keeps dates.
plist::Date currentDate();

/// `date` in the ISO 8601 internet form in UTC, to the whole second (the
/// fraction is dropped): "2026-12-06T21:21:43Z".
std::string isoTimestamp(plist::Date date);

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_STORE_TIME_H_
