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

/// Typed "latitude, longitude" taken as it stands, or a city resolved by the
/// Nominatim search; none when nothing fits. Never throws.
std::optional<Place> geocode(const std::string& query);

}  // namespace zeph

#endif  // ZEPH_LOCATION_GEOCODE_H_
