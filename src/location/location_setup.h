#ifndef ZEPH_LOCATION_LOCATION_SETUP_H_
#define ZEPH_LOCATION_LOCATION_SETUP_H_

#include <functional>
#include <optional>
#include <string>

#include "location/approximate_place.h"
#include "location/city_prompt.h"

namespace zeph {

/// The two web lookups the location setup makes; the real services unless a
/// test points them elsewhere.
struct LocationLookups {
  std::function<std::optional<IpPlace>()> approximatePlace = zeph::approximatePlace;
  GeocodeFunction geocode = geocodeWithReason;
};

/// Makes sure the saver knows its city: nothing when the preferences already
/// hold a location, else the IP place offered in one alert, else the city
/// prompt, after a word on the status that the guess failed. Returns the
/// place name for the completion alert, or none.
std::optional<std::string> runLocationSetup(const LocationLookups& lookups);
std::optional<std::string> runLocationSetup();

}  // namespace zeph

#endif  // ZEPH_LOCATION_LOCATION_SETUP_H_
