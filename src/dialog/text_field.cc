#include "dialog/text_field.h"

#include <algorithm>
#include <cwctype>
#include <utility>

#include "dialog/grapheme.h"

namespace zeph {
namespace {

bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

// Letters and digits of any script (from LC_CTYPE); a character's marks go with it.
bool startsWord(std::u32string_view text, std::size_t index) {
  return std::iswalnum(static_cast<wint_t>(text[index])) != 0;
}

// What shows when the view starts at `begin`. The last column is kept free:
// for the cursor after the last character, or for the mark of hidden text.
TextField::View layOut(std::u32string_view text, std::size_t cursor, std::size_t begin, int width) {
  TextField::View view;
  view.begin = begin;
  view.hiddenBefore = begin > 0;
  int column = view.hiddenBefore ? 1 : 0;
  int cursorColumn = cursor == begin ? column : -1;
  std::size_t end = begin;
  while (end < text.size()) {
    std::size_t next = nextCharacterBoundary(text, end);
    int w = columnWidth(text.substr(end, next - end));
    if (column + w > width - 1) break;
    column += w;
    end = next;
    if (end == cursor) cursorColumn = column;
  }
  view.end = end;
  view.hiddenAfter = end < text.size();
  // A cursor under the right-hand mark is not in view.
  if (view.hiddenAfter && cursor == end) cursorColumn = -1;
  view.cursorColumn = cursor < begin || cursor > end ? -1 : cursorColumn;
  return view;
}

}  // namespace

TextField::TextField(std::u32string text) {
  std::erase_if(text, isControl);
  text_ = std::move(text);
  cursor_ = text_.size();
}

void TextField::insert(char32_t codePoint) {
  if (isControl(codePoint)) return;
  text_.insert(cursor_, 1, codePoint);
  // A mark typed after a letter joins it; the cursor never rests inside one character.
  cursor_ = nextCharacterBoundary(text_, cursor_);
}

void TextField::backspace() {
  std::size_t start = previousCharacterBoundary(text_, cursor_);
  text_.erase(start, cursor_ - start);
  cursor_ = start;
}

void TextField::deleteForward() {
  std::size_t end = nextCharacterBoundary(text_, cursor_);
  text_.erase(cursor_, end - cursor_);
}

void TextField::moveLeft() { cursor_ = previousCharacterBoundary(text_, cursor_); }
void TextField::moveRight() { cursor_ = nextCharacterBoundary(text_, cursor_); }
void TextField::moveToStart() { cursor_ = 0; }
void TextField::moveToEnd() { cursor_ = text_.size(); }
void TextField::killToEnd() { text_.erase(cursor_); }

void TextField::moveWordLeft() {
  std::size_t at = cursor_;
  while (at > 0 && !startsWord(text_, previousCharacterBoundary(text_, at)))
    at = previousCharacterBoundary(text_, at);
  while (at > 0 && startsWord(text_, previousCharacterBoundary(text_, at)))
    at = previousCharacterBoundary(text_, at);
  cursor_ = at;
}

void TextField::moveWordRight() {
  std::size_t at = cursor_;
  while (at < text_.size() && !startsWord(text_, at)) at = nextCharacterBoundary(text_, at);
  while (at < text_.size() && startsWord(text_, at)) at = nextCharacterBoundary(text_, at);
  cursor_ = at;
}

void TextField::deleteWordBackward() {
  std::size_t start = cursor_;
  while (start > 0 && text_[start - 1] == U' ') --start;
  while (start > 0 && text_[start - 1] != U' ') start = previousCharacterBoundary(text_, start);
  text_.erase(start, cursor_ - start);
  cursor_ = start;
}

void TextField::clear() {
  text_.clear();
  cursor_ = 0;
  firstShown_ = 0;
}

TextField::View TextField::view(int width) {
  width = std::max(width, 2);
  // Everything fits with a column left for the cursor: nothing scrolls.
  if (columnWidth(text_) <= width - 1) {
    firstShown_ = 0;
    return layOut(text_, cursor_, 0, width);
  }
  std::size_t begin = std::min(firstShown_, cursor_);
  while (!isCharacterBoundary(text_, begin)) --begin;
  View view = layOut(text_, cursor_, begin, width);
  while (view.cursorColumn < 0 && begin < cursor_) {
    begin = nextCharacterBoundary(text_, begin);
    view = layOut(text_, cursor_, begin, width);
  }
  // Show more on the left while that hides nothing more on the right and
  // keeps the cursor in view: a field that grew fills up again.
  while (begin > 0) {
    std::size_t earlier = previousCharacterBoundary(text_, begin);
    View wider = layOut(text_, cursor_, earlier, width);
    if (wider.cursorColumn < 0 || wider.end < view.end) break;
    begin = earlier;
    view = wider;
  }
  firstShown_ = begin;
  return view;
}

}  // namespace zeph
