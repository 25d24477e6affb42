#include "text/grapheme.h"

#include <cwchar>

namespace zeph {
namespace {

constexpr char32_t kZeroWidthJoiner = 0x200D;
constexpr char32_t kReplacement = 0xFFFD;

bool isRegionalIndicator(char32_t c) { return c >= 0x1F1E6 && c <= 0x1F1FF; }
bool isEmojiModifier(char32_t c) { return c >= 0x1F3FB && c <= 0x1F3FF; }

// Zero columns but printable: it decorates what comes before it.
bool isZeroWidth(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return false;  // control characters are not marks
  return ::wcwidth(static_cast<wchar_t>(c)) == 0;
}

}  // namespace

int columnWidth(char32_t codePoint) {
  int width = ::wcwidth(static_cast<wchar_t>(codePoint));
  return width < 0 ? 1 : width;
}

int columnWidth(std::u32string_view text) {
  int total = 0;
  for (char32_t c : text) total += columnWidth(c);
  return total;
}

bool isCharacterBoundary(std::u32string_view text, std::size_t index) {
  if (index == 0 || index >= text.size()) return true;
  char32_t c = text[index];
  if (text[index - 1] == kZeroWidthJoiner) return false;
  if (c == kZeroWidthJoiner || isEmojiModifier(c) || isZeroWidth(c)) return false;
  if (isRegionalIndicator(c)) {
    // Indicators pair up from the start of their run: a flag is two of them.
    std::size_t run = 0;
    for (std::size_t i = index; i > 0 && isRegionalIndicator(text[i - 1]); --i) ++run;
    return run % 2 == 0;
  }
  return true;
}

std::size_t previousCharacterBoundary(std::u32string_view text, std::size_t index) {
  if (index > text.size()) index = text.size();
  if (index == 0) return 0;
  --index;
  while (!isCharacterBoundary(text, index)) --index;
  return index;
}

std::size_t nextCharacterBoundary(std::u32string_view text, std::size_t index) {
  if (index >= text.size()) return text.size();
  ++index;
  while (!isCharacterBoundary(text, index)) ++index;
  return index;
}

std::u32string decodeUtf8Lossy(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    auto lead = static_cast<unsigned char>(s[i]);
    std::size_t n = lead < 0x80                   ? 1
                    : lead >= 0xF0 && lead <= 0xF4 ? 4
                    : lead >= 0xE0 && lead <= 0xEF ? 3
                    : lead >= 0xC2 && lead <= 0xDF ? 2
                                                   : 0;
    char32_t c = n == 1 ? lead : n != 0 ? lead & (0x7F >> n) : 0;
    bool ok = n != 0 && i + n <= s.size();
    for (std::size_t k = 1; ok && k < n; ++k) {
      auto b = static_cast<unsigned char>(s[i + k]);
      ok = (b & 0xC0) == 0x80;
      c = (c << 6) | (b & 0x3F);
    }
    static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    ok = ok && c >= kMinimum[n] && !(c >= 0xD800 && c <= 0xDFFF) && c <= 0x10FFFF;
    out.push_back(ok ? c : kReplacement);
    i += ok ? n : 1;
  }
  return out;
}

std::string encodeUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) {
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = kReplacement;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace zeph
