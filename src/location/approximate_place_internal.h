#ifndef ZEPH_LOCATION_APPROXIMATE_PLACE_INTERNAL_H_
#define ZEPH_LOCATION_APPROXIMATE_PLACE_INTERNAL_H_

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "location/approximate_place.h"

namespace zeph::detail {

/// approximatePlace() against the service at `baseUrl` (ending in "/"); the
/// product passes its fixed address, tests a loopback server.
std::optional<IpPlace> approximatePlaceFrom(const std::string& baseUrl);

/// The place in one reply of the service, or none when it breaks a rule.
std::optional<IpPlace> placeFromReply(const nlohmann::json& reply);

}  // namespace zeph::detail

#endif  // ZEPH_LOCATION_APPROXIMATE_PLACE_INTERNAL_H_
