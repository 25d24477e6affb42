#ifndef ZEPH_LOCATION_GEOCODE_INTERNAL_H_
#define ZEPH_LOCATION_GEOCODE_INTERNAL_H_

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "location/geocode.h"

namespace zeph::detail {

/// geocodeWithReason() against the search endpoint `searchUrl`; the product
/// passes its fixed address, tests a loopback server.
GeocodeResult geocodeWith(const std::string& searchUrl, const std::string& query);

/// Typed "latitude, longitude", when the query is exactly that; no request.
std::optional<Place> coordinateShortcut(const std::string& query);

/// `searchUrl` with the query items q=`query`, format=jsonv2, limit=1.
std::string searchRequestUrl(const std::string& searchUrl, std::string_view query);

/// The place in one search reply, or none when it breaks a rule. A hit whose
/// name is empty or missing takes the query as its name.
std::optional<Place> placeFromSearchReply(const nlohmann::json& reply, const std::string& query);

}  // namespace zeph::detail

#endif  // ZEPH_LOCATION_GEOCODE_INTERNAL_H_
