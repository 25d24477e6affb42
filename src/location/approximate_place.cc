#include "location/approximate_place.h"

#include "location/approximate_place_internal.h"
#include "location/lookup_status.h"
#include "net/fetch_json.h"
#include "text/number_rule.h"

namespace zeph {
namespace detail {
namespace {

// A JSON number (integer or fractional) as a double; none for other kinds.
std::optional<double> numberMember(const nlohmann::json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_number()) return std::nullopt;
  return it->get<double>();
}

}  // namespace

std::optional<IpPlace> placeFromReply(const nlohmann::json& reply) {
  if (!reply.is_object()) return std::nullopt;
  std::optional<double> lat = numberMember(reply, "latitude");
  std::optional<double> lon = numberMember(reply, "longitude");
  if (!lat || !lon || !coordinatesInRange(*lat, *lon)) return std::nullopt;

  auto city = reply.find("city");
  if (city == reply.end() || !city->is_string() || city->get_ref<const std::string&>().empty()) {
    return std::nullopt;
  }
  IpPlace place;
  place.lat = *lat;
  place.lon = *lon;
  place.city = city->get<std::string>();  // as given, not trimmed
  auto region = reply.find("region");
  if (region != reply.end() && region->is_string()) place.region = region->get<std::string>();
  return place;
}

std::optional<IpPlace> approximatePlaceFrom(const std::string& baseUrl) {
  std::optional<nlohmann::json> reply =
      fetchJSON(baseUrl + "?fields=latitude,longitude,city,region", 8, skipCheckOfShownWait());
  if (!reply) return std::nullopt;
  return placeFromReply(*reply);
}

}  // namespace detail

std::optional<IpPlace> approximatePlace() {
  try {
    return detail::approximatePlaceFrom(ZEPH_IP_PLACE_URL);
  } catch (...) {
    return std::nullopt;  // allocation failure; lookups never throw
  }
}

}  // namespace zeph
