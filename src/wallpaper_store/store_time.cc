#include "wallpaper_store/store_time.h"

#include <cstdio>

#include "text/calendar_time.h"

namespace zeph {

plist::Date currentDate() { return plist::Date{secondsSince2001Now()}; }

std::string isoTimestamp(plist::Date date) {
  // Years 1 to 9999 fit the form; a date outside them (or not a number) is
  // shown as the platform stores it.
  if (auto text = formatIsoTimestamp(date.secondsSince2001, 1, 9999)) return *text;
  char text[64];
  std::snprintf(text, sizeof text, "%g seconds since 2001", date.secondsSince2001);
  return text;
}

}  // namespace zeph
