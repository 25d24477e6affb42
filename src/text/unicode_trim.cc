#include "text/unicode_trim.h"

#include <cstddef>
#include <cstdint>

namespace zeph {
namespace {

constexpr char32_t kInvalid = 0xFFFFFFFF;

// Decodes the well-formed UTF-8 sequence at the start of `s`, setting `length`;
// kInvalid for anything else (overlongs, surrogates, truncation).
char32_t decodeFirst(std::string_view s, std::size_t& length) {
  length = 1;
  if (s.empty()) return kInvalid;
  auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
  std::uint8_t lead = byte(0);
  if (lead < 0x80) return lead;
  std::size_t need;
  char32_t cp;
  char32_t min;
  if ((lead & 0xE0) == 0xC0) {
    need = 2, cp = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    need = 3, cp = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    need = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    return kInvalid;
  }
  if (s.size() < need) return kInvalid;
  for (std::size_t i = 1; i < need; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return kInvalid;
    cp = (cp << 6) | (byte(i) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kInvalid;
  length = need;
  return cp;
}

}  // namespace

bool isWhitespaceCodePoint(char32_t c) {
  return c == 0x09 || c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
         c == 0x202F || c == 0x205F || c == 0x3000;
}

std::string_view trimWhitespaces(std::string_view text) {
  std::size_t length = 0;
  while (!text.empty() && isWhitespaceCodePoint(decodeFirst(text, length))) text.remove_prefix(length);
  while (!text.empty()) {
    // The last sequence starts at most three continuation bytes back.
    std::size_t start = text.size() - 1;
    while (start > 0 && text.size() - start < 4 &&
           (static_cast<std::uint8_t>(text[start]) & 0xC0) == 0x80) {
      --start;
    }
    std::string_view last = text.substr(start);
    if (!isWhitespaceCodePoint(decodeFirst(last, length)) || length != last.size()) break;
    text.remove_suffix(length);
  }
  return text;
}

}  // namespace zeph
