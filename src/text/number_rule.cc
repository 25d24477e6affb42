#include "text/number_rule.h"

#include <locale.h>
#include <stdlib.h>

#include <cmath>
#include <string>

namespace zeph {
namespace {

// The C locale, made once; strtod_l with it ignores whatever setlocale() did.
locale_t cLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return locale;
}

bool isCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::optional<double> numberFromText(std::string_view text) {
  // strtod would skip leading whitespace; the rule does not.
  if (text.empty() || isCSpace(text.front())) return std::nullopt;
  locale_t locale = cLocale();
  if (locale == static_cast<locale_t>(0)) return std::nullopt;
  // A NUL inside the text stops strtod early, so the end check rejects it.
  const std::string copy(text);
  char* end = nullptr;
  double value = strtod_l(copy.c_str(), &end, locale);
  if (end != copy.c_str() + copy.size()) return std::nullopt;
  return value;
}

bool coordinatesInRange(double lat, double lon) {
  // Written so that NaN compares false.
  return std::fabs(lat) <= 90 && std::fabs(lon) <= 180;
}

}  // namespace zeph
