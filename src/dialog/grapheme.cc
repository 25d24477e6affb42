#include "dialog/grapheme.h"

#include <cwchar>

namespace zeph {
namespace {

constexpr char32_t kZeroWidthJoiner = 0x200D;

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
  for (std::size_t i = 0; i < text.size(); ++i) {
    // What a joiner joins is drawn in the columns of what came first.
    if (i > 1 && text[i - 1] == kZeroWidthJoiner) continue;
    total += columnWidth(text[i]);
  }
  return total;
}

std::u32string drawableText(std::u32string_view text) {
  std::u32string drawn;
  drawn.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == kZeroWidthJoiner && i > 0) {
      i = nextCharacterBoundary(text, i);  // the rest of the sequence
      continue;
    }
    drawn += text[i++];
  }
  return drawn;
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

}  // namespace zeph
