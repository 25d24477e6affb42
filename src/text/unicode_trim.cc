#include "text/unicode_trim.h"

#include <cstddef>
#include <cstdint>

#include "text/utf8.h"

namespace zeph {
namespace {

// The code point at the start of `s` and its length; a malformed byte is
// one U+FFFD, which is not white space.
char32_t decodeFirst(std::string_view s, std::size_t& length) {
  Utf8Sequence sequence = decodeUtf8(s, 0);
  length = sequence.length == 0 ? 1 : sequence.length;
  return sequence.codePoint;
}

}  // namespace

bool isWhitespaceCodePoint(char32_t c) {
  return c == 0x09 || c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

bool isWhitespaceOrNewlineCodePoint(char32_t c) {
  return isWhitespaceCodePoint(c) || (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

std::string_view trimUnicode(std::string_view text, TrimmedSet set) {
  auto trimmed = [set](char32_t c) {
    return set == TrimmedSet::Whitespaces ? isWhitespaceCodePoint(c) : isWhitespaceOrNewlineCodePoint(c);
  };
  std::size_t length = 0;
  while (!text.empty() && trimmed(decodeFirst(text, length))) text.remove_prefix(length);
  while (!text.empty()) {
    // The last sequence starts at most three continuation bytes back.
    std::size_t start = text.size() - 1;
    while (start > 0 && text.size() - start < 4 && (static_cast<std::uint8_t>(text[start]) & 0xC0) == 0x80) {
      --start;
    }
    std::string_view last = text.substr(start);
    if (!trimmed(decodeFirst(last, length)) || length != last.size()) break;
    text.remove_suffix(length);
  }
  return text;
}

}  // namespace zeph
