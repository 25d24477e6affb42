#include "location/geocode.h"

#include <utility>
#include <vector>

#include "location/geocode_internal.h"
#include "location/lookup_status.h"
#include "net/fetch_json.h"
#include "text/number_rule.h"
#include "text/percent_encoding.h"
#include "text/unicode_trim.h"

namespace zeph {
namespace detail {
namespace {

// Splits at every occurrence of `separator`, keeping empty parts.
std::vector<std::string_view> splitKeepingEmpty(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    std::size_t at = text.find(separator);
    if (at == std::string_view::npos) break;
    parts.push_back(text.substr(0, at));
    text.remove_prefix(at + separator.size());
  }
  parts.push_back(text);
  return parts;
}

// A member that must be a JSON string holding a number; a JSON number does not count.
std::optional<double> numberTextMember(const nlohmann::json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return numberFromText(it->get_ref<const std::string&>());
}

}  // namespace

std::optional<Place> coordinateShortcut(const std::string& query) {
  std::vector<std::string_view> pieces;
  std::string_view rest = query;
  for (;;) {
    std::size_t comma = rest.find(',');
    std::string_view piece = rest.substr(0, comma);
    // Zero-length pieces are dropped before trimming, so " " survives as a piece.
    if (!piece.empty()) pieces.push_back(trimWhitespaces(piece));
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  if (pieces.size() != 2) return std::nullopt;
  std::optional<double> lat = numberFromText(pieces[0]);
  std::optional<double> lon = numberFromText(pieces[1]);
  if (!lat || !lon || !coordinatesInRange(*lat, *lon)) return std::nullopt;
  return Place{*lat, *lon, query};
}

std::string searchRequestUrl(const std::string& searchUrl, std::string_view query) {
  return searchUrl + "?q=" + percentEncode(query, KeptCharacters::Unreserved) + "&format=jsonv2&limit=1";
}

std::optional<Place> placeFromSearchReply(const nlohmann::json& reply, const std::string& query) {
  if (!reply.is_array() || reply.empty()) return std::nullopt;
  for (const nlohmann::json& element : reply) {
    if (!element.is_object()) return std::nullopt;
  }
  const nlohmann::json& hit = reply.front();
  std::optional<double> lat = numberTextMember(hit, "lat");
  std::optional<double> lon = numberTextMember(hit, "lon");
  if (!lat || !lon || !coordinatesInRange(*lat, *lon)) return std::nullopt;

  // An empty name would be stored as no name at all.
  auto nameMember = hit.find("name");
  std::string name = nameMember != hit.end() && nameMember->is_string() ? nameMember->get<std::string>() : "";
  if (name.empty()) name = query;

  // "Town, County, State, Country": the second-to-last part qualifies the town.
  auto displayName = hit.find("display_name");
  if (displayName != hit.end() && displayName->is_string()) {
    std::vector<std::string_view> parts = splitKeepingEmpty(displayName->get_ref<const std::string&>(), ", ");
    if (parts.size() >= 3) {
      std::string_view qualifier = parts[parts.size() - 2];
      if (qualifier != name) name = name + ", " + std::string(qualifier);
    }
  }
  return Place{*lat, *lon, std::move(name)};
}

GeocodeResult geocodeWith(const std::string& searchUrl, const std::string& query) {
  if (std::optional<Place> typed = coordinateShortcut(query)) return {typed};
  JsonReply reply = fetchJSONReply(searchRequestUrl(searchUrl, query), 8, skipCheckOfShownWait());
  if (!answered(reply)) return {std::nullopt, LookupFailure::NoAnswer};
  if (std::optional<Place> place = placeFromSearchReply(*reply.value, query)) return {place};
  // Only an empty list of hits says there is no such place; anything else
  // the reply holds could not be read.
  const bool noHits = reply.value->is_array() && reply.value->empty();
  return {std::nullopt, noHits ? LookupFailure::NoSuchPlace : LookupFailure::NoAnswer};
}

}  // namespace detail

std::optional<Place> geocode(const std::string& query) { return geocodeWithReason(query).place; }

GeocodeResult geocodeWithReason(const std::string& query) {
  try {
    return detail::geocodeWith(ZEPH_GEOCODE_URL, query);
  } catch (...) {
    return {std::nullopt, LookupFailure::NoAnswer};  // allocation failure; lookups never throw
  }
}

}  // namespace zeph
