#ifndef ZEPH_TESTS_SUPPORT_UTF8_LOCALE_H_
#define ZEPH_TESTS_SUPPORT_UTF8_LOCALE_H_

/// Column widths come from wcwidth(), which knows non-ASCII characters only
/// under a UTF-8 character type. Tests that measure text hold this for their
/// duration; the previous character type comes back afterwards.
///
/// The name differs: glibc has "C.UTF-8", macOS before 15 does not but has had
/// "UTF-8" as a character type all along. A refused locale would leave every
/// width at -1 and the tests failing far from the cause, so it throws, which
/// fails the test with this message.

#include <clocale>
#include <stdexcept>
#include <string>

namespace zeph::test_support {

#ifdef __APPLE__
inline constexpr const char* kUtf8CharacterType = "UTF-8";
#else
inline constexpr const char* kUtf8CharacterType = "C.UTF-8";
#endif

class Utf8Locale {
 public:
  Utf8Locale() {
    if (const char* current = std::setlocale(LC_CTYPE, nullptr)) saved_ = current;
    if (!std::setlocale(LC_CTYPE, kUtf8CharacterType))
      throw std::runtime_error(std::string("setlocale(LC_CTYPE, \"") + kUtf8CharacterType +
                               "\") refused: text width tests need a UTF-8 character type");
  }
  ~Utf8Locale() { std::setlocale(LC_CTYPE, saved_.c_str()); }
  Utf8Locale(const Utf8Locale&) = delete;
  Utf8Locale& operator=(const Utf8Locale&) = delete;

 private:
  std::string saved_ = "C";  // the character type to put back
};

}  // namespace zeph::test_support

#endif  // ZEPH_TESTS_SUPPORT_UTF8_LOCALE_H_
