#ifndef ZEPH_TEXT_UNICODE_TRIM_H_
#define ZEPH_TEXT_UNICODE_TRIM_H_

#include <string_view>

namespace zeph {

/// Whether `codePoint` is in the platform's "whitespaces" set: tab and the
/// Unicode space separators (U+0020, U+00A0, U+1680, U+2000–U+200A, U+202F,
/// U+205F, U+3000). Line breaks are not in it.
bool isWhitespaceCodePoint(char32_t codePoint);

/// `text` (UTF-8) without leading and trailing whitespace code points. Bytes
/// that are not valid UTF-8 count as non-whitespace and are kept.
std::string_view trimWhitespaces(std::string_view text);

}  // namespace zeph

#endif  // ZEPH_TEXT_UNICODE_TRIM_H_
