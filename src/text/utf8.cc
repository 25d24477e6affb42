#include "text/utf8.h"

#include <cstring>

namespace zeph {

std::size_t findInvalidUtf8(std::string_view text, SurrogatePolicy policy) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    // Stores are mostly ASCII: step over it eight bytes at a time.
    while (i + 8 <= n) {
      std::uint64_t word;
      std::memcpy(&word, p + i, 8);
      if (word & 0x8080808080808080ull) break;
      i += 8;
    }
    if (i >= n) break;
    std::size_t length = decodeUtf8(text, i, policy).length;
    if (length == 0) return i;
    i += length;
  }
  return std::string_view::npos;
}

void appendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    char b[2] = {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
    out.append(b, 2);
  } else if (c < 0x10000) {
    char b[3] = {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                 static_cast<char>(0x80 | (c & 0x3F))};
    out.append(b, 3);
  } else {
    char b[4] = {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
                 static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
    out.append(b, 4);
  }
}

std::u32string decodeUtf8Lossy(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    Utf8Sequence s = decodeUtf8(text, i);
    out.push_back(s.codePoint);
    i += s.length == 0 ? 1 : s.length;
  }
  return out;
}

std::string encodeUtf8(std::u32string_view codePoints) {
  std::string out;
  out.reserve(codePoints.size());
  for (char32_t c : codePoints) appendUtf8(c, out);
  return out;
}

}  // namespace zeph
