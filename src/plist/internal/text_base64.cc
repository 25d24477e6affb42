#include "plist/internal/text_base64.h"

#include <algorithm>
#include <array>

namespace zeph::plist {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Digit value of each ASCII byte; -1 for bytes outside the alphabet, -2 for '='.
constexpr std::array<signed char, 128> kDigits = [] {
  std::array<signed char, 128> t{};
  t.fill(-1);
  for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
  t['='] = -2;
  return t;
}();

}  // namespace

std::size_t decodeBase64(std::string_view text, std::vector<std::uint8_t>& out) {
  out.clear();
  out.reserve(text.size() / 4 * 3 + 3);
  std::uint32_t acc = 0;
  int digits = 0;
  int pads = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) return i;
    int v = kDigits[c];
    if (v == -1) continue;
    if (v == -2) {
      ++pads;
      v = 0;
    }
    acc = (acc << 6) | static_cast<std::uint32_t>(v);
    if (++digits < 4) continue;
    out.push_back(static_cast<std::uint8_t>(acc >> 16));
    if (pads < 2) out.push_back(static_cast<std::uint8_t>(acc >> 8));
    if (pads < 1) out.push_back(static_cast<std::uint8_t>(acc));
    acc = 0;
    digits = 0;
    pads = 0;
  }
  return std::string_view::npos;
}

std::size_t base64LinesSize(std::size_t dataSize, std::size_t lineLength, std::size_t indent) {
  const std::size_t groups = (dataSize + 2) / 3;
  const std::size_t groupsPerLine = lineLength / 4;
  const std::size_t lines = (groups + groupsPerLine - 1) / groupsPerLine;
  return groups * 4 + lines * (indent + 1);
}

std::uint8_t* encodeBase64Lines(std::span<const std::uint8_t> data, std::size_t lineLength,
                                std::size_t indent, std::uint8_t* p) {
  const std::size_t groupsPerLine = lineLength / 4;
  const std::size_t groups = (data.size() + 2) / 3;
  const std::size_t n = data.size();
  for (std::size_t g = 0, i = 0; g < groups; ++g, i += 3) {
    if (g % groupsPerLine == 0) p = std::fill_n(p, indent, '\t');
    std::uint32_t a = data[i];
    std::uint32_t b = i + 1 < n ? data[i + 1] : 0;
    std::uint32_t c = i + 2 < n ? data[i + 2] : 0;
    std::uint32_t v = (a << 16) | (b << 8) | c;
    *p++ = static_cast<std::uint8_t>(kAlphabet[v >> 18]);
    *p++ = static_cast<std::uint8_t>(kAlphabet[(v >> 12) & 63]);
    *p++ = static_cast<std::uint8_t>(i + 1 < n ? kAlphabet[(v >> 6) & 63] : '=');
    *p++ = static_cast<std::uint8_t>(i + 2 < n ? kAlphabet[v & 63] : '=');
    if ((g + 1) % groupsPerLine == 0 || g + 1 == groups) *p++ = '\n';
  }
  return p;
}

}  // namespace zeph::plist
