#include "location/saver_preferences.h"

#include <cmath>
#include <cstdlib>
#include <exception>
#include <string>

#include "base/process_values.h"
#include "platform/error_line.h"
#include "platform/preferences.h"

namespace zeph {
namespace {

// The saver's cached reading, removed whenever the place changes, in this order.
constexpr const char* kCachedReadingKeys[] = {"cachedTempRaw",         "cachedTempIsFahrenheit",
                                              "cachedTempIsFeelsLike", "cachedTempTime",
                                              "cachedLatitude",        "cachedLongitude"};

// How the platform's boolean lookup reads a stored value: booleans as they
// are, numbers when not zero, text like NSString's boolValue ("YES", "true",
// "1" after optional spaces and sign), every other kind false.
bool readsAsTrue(const plist::Value& value) {
  if (const bool* b = value.asBoolean()) return *b;
  if (std::optional<plist::Integer> i = value.asInteger()) return i->bits != 0;
  if (const double* r = value.asReal()) return *r != 0 && !std::isnan(*r);
  if (const std::string* s = value.asString()) {
    std::size_t at = s->find_first_not_of(" \t\n\r\v\f");
    if (at == std::string::npos) return false;
    char c = (*s)[at];
    if (c == 'Y' || c == 'y' || c == 'T' || c == 't') return true;
    if (c == '+' || c == '-') ++at;
    while (at < s->size() && (*s)[at] == '0') ++at;
    return at < s->size() && (*s)[at] >= '1' && (*s)[at] <= '9';
  }
  return false;
}

}  // namespace

bool hasLocationConfigured() {
  if (preferenceValue(prefsSuite, "manualLatitude")) return true;  // any kind counts
  std::optional<plist::Value> fallback = preferenceValue(prefsSuite, "useIpLocationFallback");
  return fallback && readsAsTrue(*fallback);
}

void storeLocation(double latitude, double longitude, const std::string& name) {
  PreferenceChange change;
  change.set.emplace_back("manualLatitude", plist::Value::real(latitude));
  change.set.emplace_back("manualLongitude", plist::Value::real(longitude));
  change.set.emplace_back("manualLocationName", plist::Value(name));
  change.set.emplace_back("locationSetupAsked", plist::Value::boolean(true));
  change.remove.assign(std::begin(kCachedReadingKeys), std::end(kCachedReadingKeys));
  applyPreferenceChange(prefsSuite, change);
}

bool storeLocationOrReport(double latitude, double longitude, const std::string& name) {
  try {
    storeLocation(latitude, longitude, name);
    return true;
  } catch (const std::exception& e) {
    writeErrorLine(std::string("couldn't save the city: ") + e.what());
    return false;
  }
}

std::optional<std::string> storedLocationName() {
  std::optional<plist::Value> value = preferenceValue(prefsSuite, "manualLocationName");
  if (!value || !value->asString()) return std::nullopt;
  return *value->asString();
}

}  // namespace zeph
