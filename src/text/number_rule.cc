#include "text/number_rule.h"

#include <cmath>

#include "text/c_locale_number.h"

namespace zeph {
namespace {

bool isCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

std::optional<double> numberFromText(std::string_view text) {
  // strtod would skip leading whitespace; the rule does not.
  if (text.empty() || isCSpace(text.front())) return std::nullopt;
  return wholeNumberInCLocale(text);
}

bool coordinatesInRange(double lat, double lon) {
  // Written so that NaN compares false.
  return std::fabs(lat) <= 90 && std::fabs(lon) <= 180;
}

}  // namespace zeph
