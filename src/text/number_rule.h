#ifndef ZEPH_TEXT_NUMBER_RULE_H_
#define ZEPH_TEXT_NUMBER_RULE_H_

#include <optional>
#include <string_view>

namespace zeph {

/// The number rule shared by typed coordinates and the geocoder's "lat"/"lon"
/// texts: the whole text is one floating-point number as strtod reads it under
/// the C locale ("." as decimal mark; a leading "+", exponents, hex floats,
/// "inf" and "nan" included). Empty text, leading whitespace or anything after
/// the number give none. The process locale is never consulted.
std::optional<double> numberFromText(std::string_view text);

/// Both coordinates within range, bounds included: |lat| <= 90, |lon| <= 180.
/// NaN fails.
bool coordinatesInRange(double lat, double lon);

}  // namespace zeph

#endif  // ZEPH_TEXT_NUMBER_RULE_H_
