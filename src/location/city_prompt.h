#ifndef ZEPH_LOCATION_CITY_PROMPT_H_
#define ZEPH_LOCATION_CITY_PROMPT_H_

#include <functional>
#include <optional>
#include <string>

#include "location/geocode.h"

namespace zeph {

/// Resolves typed text to a place, or says why not; geocodeWithReason() in a real run.
using GeocodeFunction = std::function<GeocodeResult(const std::string&)>;

/// The city prompt: asks for a city with `prefill` in the field, resolves the
/// trimmed text with `geocode` and stores the place in the saver's
/// preferences. When the city is not found, or the search did not answer,
/// an alert says which and the user may try again with the text kept; Esc
/// during the search goes straight back to the prompt. Returns true exactly
/// when a place was stored.
bool askForCity(const std::string& prefill, const GeocodeFunction& geocode);
bool askForCity(const std::string& prefill);

}  // namespace zeph

#endif  // ZEPH_LOCATION_CITY_PROMPT_H_
