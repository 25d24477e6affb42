#ifndef ZEPH_LOCATION_GEOCODE_H_
#define ZEPH_LOCATION_GEOCODE_H_

#include <optional>
#include <string>

namespace zeph {

struct Place {
  double lat = 0;
  double lon = 0;
  std::string name;
};

/// Why a lookup gave no place.
enum class LookupFailure {
  NoSuchPlace,  // the service answered and knows no such place
  NoAnswer,     // no network, DNS failure, timeout, HTTP error, unreadable reply
};

/// A place, or why there is none.
struct GeocodeResult {
  std::optional<Place> place;
  LookupFailure failure = LookupFailure::NoSuchPlace;  // when there is no place
};

/// Typed "latitude, longitude" taken as it stands, or a city resolved by the
/// Nominatim search; none when nothing fits. Never throws.
std::optional<Place> geocode(const std::string& query);

/// geocode() with the reason beside a missing place.
GeocodeResult geocodeWithReason(const std::string& query);

}  // namespace zeph

#endif  // ZEPH_LOCATION_GEOCODE_H_
