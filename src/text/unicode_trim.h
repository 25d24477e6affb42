#ifndef ZEPH_TEXT_UNICODE_TRIM_H_
#define ZEPH_TEXT_UNICODE_TRIM_H_

#include <string_view>

namespace zeph {

/// Whether `codePoint` is in the platform's "whitespaces" set: tab and the
/// Unicode space separators (U+0020, U+00A0, U+1680, U+2000–U+200A, U+202F,
/// U+205F, U+3000). Line breaks are not in it.
bool isWhitespaceCodePoint(char32_t codePoint);

/// Whether `codePoint` is in the platform's "whitespacesAndNewlines" set: the
/// whitespaces above plus U+000A–U+000D, U+0085, U+2028 and U+2029.
bool isWhitespaceOrNewlineCodePoint(char32_t codePoint);

/// Which code points a trim removes.
enum class TrimmedSet { Whitespaces, WhitespacesAndNewlines };

/// `text` (UTF-8) without leading and trailing code points of `set`. Bytes
/// that are not valid UTF-8 count as something else and are kept.
std::string_view trimUnicode(std::string_view text, TrimmedSet set);

/// trimUnicode(text, TrimmedSet::Whitespaces).
inline std::string_view trimWhitespaces(std::string_view text) {
  return trimUnicode(text, TrimmedSet::Whitespaces);
}

}  // namespace zeph

#endif  // ZEPH_TEXT_UNICODE_TRIM_H_
