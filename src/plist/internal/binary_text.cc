#include "plist/internal/binary_text.h"

#include "text/utf8.h"

namespace zeph::plist {
namespace {

bool isHighSurrogate(std::uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(std::uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

void appendUtf8FromUtf16Be(const std::uint8_t* units, std::size_t count, std::string& out) {
  out.reserve(out.size() + count * 3);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t u = (std::uint32_t{units[2 * i]} << 8) | units[2 * i + 1];
    if (isHighSurrogate(u) && i + 1 < count) {
      std::uint32_t next = (std::uint32_t{units[2 * i + 2]} << 8) | units[2 * i + 3];
      if (isLowSurrogate(next)) {
        appendUtf8(0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00), out);
        ++i;
        continue;
      }
    }
    appendUtf8(u, out);  // lone surrogates included, see the header
  }
}

void appendUtf8FromLatin1(const std::uint8_t* bytes, std::size_t count, std::string& out) {
  out.reserve(out.size() + count * 2);
  for (std::size_t i = 0; i < count; ++i) appendUtf8(bytes[i], out);
}

std::size_t utf16FromUtf8(std::string_view text, std::vector<char16_t>& units) {
  units.clear();
  units.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    Utf8Sequence sequence = decodeUtf8(text, i, SurrogatePolicy::Accept);  // lone surrogates round-trip
    if (sequence.length == 0) return i;
    char32_t c = sequence.codePoint;
    i += sequence.length;
    if (c >= 0x10000) {
      units.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(c));
    }
  }
  return std::string_view::npos;
}

}  // namespace zeph::plist
