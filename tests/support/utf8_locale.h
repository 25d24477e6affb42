#ifndef ZEPH_TESTS_SUPPORT_UTF8_LOCALE_H_
#define ZEPH_TESTS_SUPPORT_UTF8_LOCALE_H_

/// Column widths come from wcwidth(), which knows non-ASCII characters only
/// under a UTF-8 character type. Tests that measure text hold this for their
/// duration; the previous character type comes back afterwards.

#include <clocale>
#include <string>

namespace zeph::testing {

class Utf8Locale {
 public:
  Utf8Locale() {
    if (const char* current = std::setlocale(LC_CTYPE, nullptr)) saved_ = current;
    std::setlocale(LC_CTYPE, "C.UTF-8");
  }
  ~Utf8Locale() { std::setlocale(LC_CTYPE, saved_.c_str()); }
  Utf8Locale(const Utf8Locale&) = delete;
  Utf8Locale& operator=(const Utf8Locale&) = delete;

 private:
  std::string saved_ = "C";
};

}  // namespace zeph::testing

#endif  // ZEPH_TESTS_SUPPORT_UTF8_LOCALE_H_
