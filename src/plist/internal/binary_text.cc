#include "plist/internal/binary_text.h"

namespace zeph::plist {
namespace {

void appendCodePoint(std::uint32_t c, std::string& out) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

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
        appendCodePoint(0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00), out);
        ++i;
        continue;
      }
    }
    appendCodePoint(u, out);  // lone surrogates included, see the header
  }
}

void appendUtf8FromLatin1(const std::uint8_t* bytes, std::size_t count, std::string& out) {
  out.reserve(out.size() + count * 2);
  for (std::size_t i = 0; i < count; ++i) appendCodePoint(bytes[i], out);
}

std::size_t utf16FromUtf8(std::string_view text, std::vector<char16_t>& units) {
  units.clear();
  units.reserve(text.size());
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  std::size_t n = text.size();
  auto continuation = [&](std::size_t at) { return at < n && (p[at] & 0xC0) == 0x80; };
  for (std::size_t i = 0; i < n;) {
    std::uint32_t b = p[i];
    std::uint32_t c;
    std::size_t len;
    if (b < 0x80) {
      c = b;
      len = 1;
    } else if (b >= 0xC2 && b <= 0xDF && continuation(i + 1)) {
      c = ((b & 0x1F) << 6) | (p[i + 1] & 0x3F);
      len = 2;
    } else if (b >= 0xE0 && b <= 0xEF && continuation(i + 1) && continuation(i + 2)) {
      c = ((b & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F);
      len = 3;
      if (c < 0x800) return i;  // overlong
    } else if (b >= 0xF0 && b <= 0xF4 && continuation(i + 1) && continuation(i + 2) &&
               continuation(i + 3)) {
      c = ((b & 0x07) << 18) | ((p[i + 1] & 0x3F) << 12) | ((p[i + 2] & 0x3F) << 6) |
          (p[i + 3] & 0x3F);
      len = 4;
      if (c < 0x10000 || c > 0x10FFFF) return i;
    } else {
      return i;
    }
    if (c >= 0x10000) {
      units.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(c));
    }
    i += len;
  }
  return std::string_view::npos;
}

}  // namespace zeph::plist
