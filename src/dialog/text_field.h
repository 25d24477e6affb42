#ifndef ZEPH_PLATFORM_TEXT_FIELD_H_
#define ZEPH_PLATFORM_TEXT_FIELD_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace zeph {

/// The editable text of a terminal dialog's field and its insertion point,
/// with the editing keys of a shell's line editor; a word is a run of letters
/// and digits. The cursor only ever rests
/// on a character boundary (dialog/grapheme.h), so Backspace, Delete and the
/// arrows take a whole user-perceived character. Holds no terminal state;
/// view() says what part of the text a field of a given width shows.
class TextField {
 public:
  /// What a field `width` columns wide shows: text[begin, end), a mark for
  /// text hidden on either side, and the cursor's column.
  struct View {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool hiddenBefore = false;  // column 0 holds the mark, the text starts at column 1
    bool hiddenAfter = false;   // the last column holds the mark
    int cursorColumn = 0;       // from the field's left edge
  };

  explicit TextField(std::u32string text = {});

  const std::u32string& text() const { return text_; }
  std::size_t cursor() const { return cursor_; }

  /// Inserts one code point; control characters are refused.
  void insert(char32_t codePoint);
  void backspace();      // the character before the cursor
  void deleteForward();  // the character after the cursor
  void moveLeft();
  void moveRight();
  void moveToStart();         // Home, Ctrl-A
  void moveToEnd();           // End, Ctrl-E
  void moveWordLeft();        // to the start of this or the previous word
  void moveWordRight();       // to the end of this or the next word
  void killToEnd();           // Ctrl-K
  void deleteWordBackward();  // Ctrl-W: spaces before the cursor, then the word before them
  void clear();               // Ctrl-U

  /// The part shown in `width` columns. Keeps the cursor in view, scrolls
  /// no further than it must, and shows as much text as fits, so a field
  /// that grows shows more again. Remembers where the view starts.
  View view(int width);

 private:
  std::u32string text_;
  std::size_t cursor_ = 0;      // on a character boundary, ≤ text_.size()
  std::size_t firstShown_ = 0;  // where the last view began; a boundary ≤ text_.size()
};

}  // namespace zeph

#endif  // ZEPH_PLATFORM_TEXT_FIELD_H_
