#include "plist/internal/text_utf.h"

#include <algorithm>

#include "text/utf8.h"

namespace zeph::plist {
namespace {

constexpr std::size_t kNone = std::string_view::npos;

bool isContinuation(std::uint8_t b) { return (b & 0xC0) == 0x80; }

// Rank of a code point in UTF-16 order: the BMP above the surrogates moves
// past everything that needs a surrogate pair.
std::uint32_t utf16Rank(std::uint32_t cp) { return cp >= 0xE000 && cp <= 0xFFFF ? cp + 0x100000 : cp; }

std::uint32_t readUnit(const std::uint8_t* p, TextEncoding e) {
  switch (e) {
    case TextEncoding::Utf16Le:
      return p[0] | (std::uint32_t{p[1]} << 8);
    case TextEncoding::Utf16Be:
      return (std::uint32_t{p[0]} << 8) | p[1];
    case TextEncoding::Utf32Le:
      return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
    case TextEncoding::Utf32Be:
    case TextEncoding::Utf8:
      break;
  }
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

}  // namespace

std::size_t findEncodedSurrogate(std::string_view text) {
  for (std::size_t i = text.find('\xED'); i != kNone; i = text.find('\xED', i + 1)) {
    if (i + 1 < text.size() && static_cast<std::uint8_t>(text[i + 1]) >= 0xA0 &&
        static_cast<std::uint8_t>(text[i + 1]) <= 0xBF)
      return i;
  }
  return kNone;
}

bool lessInUtf16Order(std::string_view a, std::string_view b) {
  auto mismatch = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  std::size_t i = static_cast<std::size_t>(mismatch.first - a.begin());
  if (i == a.size() || i == b.size()) return a.size() < b.size();
  // Back up to the start of the code point the two strings differ in.
  while (i > 0 && isContinuation(static_cast<std::uint8_t>(a[i]))) --i;
  char32_t ca = decodeUtf8(a, i, SurrogatePolicy::Accept).codePoint;
  char32_t cb = decodeUtf8(b, i, SurrogatePolicy::Accept).codePoint;
  return utf16Rank(ca) < utf16Rank(cb);
}

EncodingMark detectEncoding(std::span<const std::uint8_t> b) {
  auto starts = [&](std::initializer_list<std::uint8_t> mark) {
    return b.size() >= mark.size() && std::equal(mark.begin(), mark.end(), b.begin());
  };
  if (starts({0x00, 0x00, 0xFE, 0xFF})) return {TextEncoding::Utf32Be, 4, true};
  if (starts({0xFF, 0xFE, 0x00, 0x00})) return {TextEncoding::Utf32Le, 4, true};
  if (starts({0xEF, 0xBB, 0xBF})) return {TextEncoding::Utf8, 3, true};
  if (starts({0xFF, 0xFE})) return {TextEncoding::Utf16Le, 2, true};
  if (starts({0xFE, 0xFF})) return {TextEncoding::Utf16Be, 2, true};
  if (!b.empty() && b[0] == 0) return {TextEncoding::Utf16Be, 0, false};
  if (b.size() > 1 && b[1] == 0) return {TextEncoding::Utf16Le, 0, false};
  return {};
}

std::size_t convertToUtf8(std::span<const std::uint8_t> bytes, TextEncoding encoding, std::string& out) {
  out.clear();
  if (encoding == TextEncoding::Utf8) {
    out.assign(bytes.begin(), bytes.end());
    return kNone;
  }
  bool wide = encoding == TextEncoding::Utf32Le || encoding == TextEncoding::Utf32Be;
  std::size_t unit = wide ? 4 : 2;
  out.reserve(bytes.size());
  std::size_t n = bytes.size();
  for (std::size_t i = 0; i < n; i += unit) {
    if (n - i < unit) return i;
    std::uint32_t c = readUnit(bytes.data() + i, encoding);
    if (!wide && c >= 0xD800 && c <= 0xDBFF) {
      if (n - i < 4) return i;
      std::uint32_t low = readUnit(bytes.data() + i + 2, encoding);
      if (low < 0xDC00 || low > 0xDFFF) return i;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      return i;
    }
    appendUtf8(c, out);
  }
  return kNone;
}

}  // namespace zeph::plist
