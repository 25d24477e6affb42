#ifndef ZEPH_LOCATION_APPROXIMATE_PLACE_H_
#define ZEPH_LOCATION_APPROXIMATE_PLACE_H_

#include <optional>
#include <string>

namespace zeph {

struct IpPlace {
  double lat = 0;
  double lon = 0;
  std::string city;    // never empty
  std::string region;  // empty when the service gave none
};

/// The place the IP-geolocation service reports for this connection, or none. Never throws.
std::optional<IpPlace> approximatePlace();

}  // namespace zeph

#endif  // ZEPH_LOCATION_APPROXIMATE_PLACE_H_
