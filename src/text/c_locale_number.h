#ifndef ZEPH_TEXT_C_LOCALE_NUMBER_H_
#define ZEPH_TEXT_C_LOCALE_NUMBER_H_

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace zeph {

// Numbers in text the way the C locale spells them, whatever setlocale() the
// process did: "." is the decimal mark, always. Both work on any thread; the
// locale is switched for the calling thread alone, and back.

/// The double strtod reads from `text` under the C locale, when it reads the
/// whole text; otherwise none (empty text, anything after the number, a NUL
/// inside). Otherwise strtod's own rules: leading whitespace, a sign,
/// exponents, hex floats, "inf" and "nan" all read.
std::optional<double> wholeNumberInCLocale(std::string_view text);

/// A finite double as printf's "%.17g" writes it under the C locale: 17
/// significant digits, which always read back to the same double, trailing
/// zeros dropped, exponents of at least two digits ("1e+21", "5e-08").
class RealText {
 public:
  explicit RealText(double value);
  std::string_view view() const { return std::string_view(chars_.data(), size_); }

 private:
  std::array<char, 32> chars_;  // "-1.2345678901234567e-308" and its NUL fit
  std::size_t size_ = 0;
};

}  // namespace zeph

#endif  // ZEPH_TEXT_C_LOCALE_NUMBER_H_
