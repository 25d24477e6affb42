#ifndef ZEPH_PLATFORM_KEY_DECODER_H_
#define ZEPH_PLATFORM_KEY_DECODER_H_

#include <cstddef>
#include <optional>
#include <string>

namespace zeph {

/// What a key press means to a dialog.
enum class KeyAction {
  Character,  // a printable code point, typed or pasted
  Enter,
  Tab,
  BackTab,
  Escape,
  Backspace,
  Delete,
  Left,
  Right,
  Up,
  Down,
  Home,
  End,
  WordLeft,            // Ctrl-Left, Alt-Left, Alt-b
  WordRight,           // Ctrl-Right, Alt-Right, Alt-f
  KillToEnd,           // Ctrl-K
  DeleteWordBackward,  // Ctrl-W
  ClearField,          // Ctrl-U
};

struct Key {
  KeyAction action = KeyAction::Character;
  char32_t codePoint = 0;  // for Character
  bool pasted = false;     // arrived between the paste markers
};

/// A key the terminal library already recognised from the terminal's
/// description (terminfo), named without the library's codes.
enum class NamedKey {
  Enter,
  BackTab,
  Backspace,
  Delete,
  Left,
  Right,
  Up,
  Down,
  Home,
  End,
  WordLeft,
  WordRight,
  Other
};

/// One unit of input: a code point as read, or a key the library named.
struct KeyInput {
  std::optional<NamedKey> named;  // set for a recognised key
  char32_t codePoint = 0;         // otherwise
};

/// Turns what a terminal sends into dialog keys. Keeps the escape sequences
/// the terminal library did not recognise from being typed as text: CSI and
/// SS3 sequences are read whole, the common Home, End, Delete and Shift-Tab
/// forms are understood, as are the arrows with Ctrl or Alt (by word); all
/// others are dropped. ESC followed at once by a printable character is Alt
/// plus that key: Alt-b and Alt-f move by word, the others are dropped too;
/// ESC that nothing follows is Escape, which the caller reports with
/// noMoreInput().
/// Between "ESC [ 200 ~" and "ESC [ 201 ~" (bracketed paste) everything is
/// text: Tab and line breaks become spaces and never move focus or press a
/// button. A paste whose end marker never comes ends after kPasteLimit code
/// points or once input pauses.
class KeyDecoder {
 public:
  static constexpr std::size_t kPasteLimit = 4096;

  /// Takes one unit of input; returns the key it completes, if any.
  std::optional<Key> feed(const KeyInput& input);

  /// The caller found no further input waiting. Completes a lone ESC as
  /// Escape, drops an unfinished sequence, and ends a paste cut short.
  std::optional<Key> noMoreInput();

  /// Whether input read so far belongs to an unfinished sequence or paste,
  /// so the caller should look for more before waiting for the user.
  bool midSequence() const { return state_ != State::Ground; }
  /// Whether a bracketed paste is being read.
  bool inPaste() const { return state_ == State::Paste || state_ == State::PasteEscape; }

  /// Forgets any unfinished sequence (the input was thrown away).
  void reset();

 private:
  enum class State { Ground, Escape, Csi, Ss3, Paste, PasteEscape };

  std::optional<Key> ground(char32_t c);
  std::optional<Key> pasted(char32_t c);
  std::optional<Key> finishCsi(char32_t final);

  State state_ = State::Ground;
  std::string parameters_;       // CSI parameter and intermediate bytes read so far
  std::size_t pastedCount_ = 0;  // code points of the current paste
  std::string pasteEscape_;      // bytes of a possible end marker inside a paste
};

}  // namespace zeph

#endif  // ZEPH_PLATFORM_KEY_DECODER_H_
