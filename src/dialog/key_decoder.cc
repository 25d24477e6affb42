#include "dialog/key_decoder.h"

#include <string_view>

namespace zeph {
namespace {

constexpr char32_t kEscape = 0x1B;
constexpr std::string_view kPasteEnd = "[201~";
constexpr std::size_t kMaxParameters = 32;  // longer sequences are read on but not kept

Key action(KeyAction a) { return Key{a, 0, false}; }

bool isControl(char32_t c) { return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0); }

std::optional<Key> fromNamed(NamedKey named) {
  switch (named) {
    case NamedKey::Enter:
      return action(KeyAction::Enter);
    case NamedKey::BackTab:
      return action(KeyAction::BackTab);
    case NamedKey::Backspace:
      return action(KeyAction::Backspace);
    case NamedKey::Delete:
      return action(KeyAction::Delete);
    case NamedKey::Left:
      return action(KeyAction::Left);
    case NamedKey::Right:
      return action(KeyAction::Right);
    case NamedKey::Up:
      return action(KeyAction::Up);
    case NamedKey::Down:
      return action(KeyAction::Down);
    case NamedKey::Home:
      return action(KeyAction::Home);
    case NamedKey::End:
      return action(KeyAction::End);
    case NamedKey::WordLeft:
      return action(KeyAction::WordLeft);
    case NamedKey::WordRight:
      return action(KeyAction::WordRight);
    case NamedKey::Other:
      return std::nullopt;
  }
  return std::nullopt;
}

// The key a cursor-key final byte names, in both CSI and SS3 form.
std::optional<Key> fromFinal(char32_t final) {
  switch (final) {
    case U'A':
      return action(KeyAction::Up);
    case U'B':
      return action(KeyAction::Down);
    case U'C':
      return action(KeyAction::Right);
    case U'D':
      return action(KeyAction::Left);
    case U'H':
      return action(KeyAction::Home);
    case U'F':
      return action(KeyAction::End);
    default:
      return std::nullopt;
  }
}

}  // namespace

std::optional<Key> KeyDecoder::feed(const KeyInput& input) {
  if (input.named) {
    if (inPaste()) {
      // A line break the library recognised inside a paste is still text.
      if (*input.named == NamedKey::Enter) return pasted(U'\n');
      return std::nullopt;
    }
    state_ = State::Ground;  // the library read a whole key: any sequence of ours is over
    return fromNamed(*input.named);
  }
  const char32_t c = input.codePoint;
  switch (state_) {
    case State::Ground:
      return ground(c);
    case State::Escape:
      if (c == U'[') {
        state_ = State::Csi;
        parameters_.clear();
        return std::nullopt;
      }
      if (c == U'O') {
        state_ = State::Ss3;
        return std::nullopt;
      }
      if (c == kEscape) return action(KeyAction::Escape);  // the first of two presses
      // Alt plus a key: only Alt-b and Alt-f mean something; none is typed.
      state_ = State::Ground;
      if (c == U'b') return action(KeyAction::WordLeft);
      if (c == U'f') return action(KeyAction::WordRight);
      return std::nullopt;
    case State::Csi:
      if (c >= 0x20 && c <= 0x3F) {
        if (parameters_.size() < kMaxParameters) parameters_ += static_cast<char>(c);
        return std::nullopt;
      }
      state_ = State::Ground;
      if (c >= 0x40 && c <= 0x7E) return finishCsi(c);
      // Broken off: what broke it is read on its own.
      return ground(c);
    case State::Ss3:
      state_ = State::Ground;
      if (c == U'M') return action(KeyAction::Enter);  // keypad Enter
      return fromFinal(c);
    case State::Paste:
      if (c == kEscape) {
        state_ = State::PasteEscape;
        pasteEscape_.clear();
        return std::nullopt;
      }
      return pasted(c);
    case State::PasteEscape:
      if (c < 0x80 && pasteEscape_.size() < kMaxParameters) pasteEscape_ += static_cast<char>(c);
      if (c < 0x80 && kPasteEnd.starts_with(pasteEscape_)) {
        if (pasteEscape_ == kPasteEnd) state_ = State::Ground;
        return std::nullopt;
      }
      // Some other escape sequence inside the paste: not text, read whole and dropped.
      if (pasteEscape_ == "O") return std::nullopt;
      if (pasteEscape_.size() > 1 && pasteEscape_[0] == '[' && c >= 0x20 && c <= 0x3F) return std::nullopt;
      state_ = c == kEscape ? State::PasteEscape : State::Paste;
      pasteEscape_.clear();
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<Key> KeyDecoder::noMoreInput() {
  const State was = state_;
  state_ = State::Ground;
  if (was == State::Escape) return action(KeyAction::Escape);
  return std::nullopt;
}

void KeyDecoder::reset() {
  state_ = State::Ground;
  parameters_.clear();
  pasteEscape_.clear();
}

std::optional<Key> KeyDecoder::ground(char32_t c) {
  switch (c) {
    case kEscape:
      state_ = State::Escape;
      return std::nullopt;
    case U'\r':
    case U'\n':
      return action(KeyAction::Enter);
    case U'\t':
      return action(KeyAction::Tab);
    case 0x7F:
    case 0x08:
      return action(KeyAction::Backspace);
    case 0x01:
      return action(KeyAction::Home);  // Ctrl-A
    case 0x05:
      return action(KeyAction::End);  // Ctrl-E
    case 0x0B:
      return action(KeyAction::KillToEnd);  // Ctrl-K
    case 0x15:
      return action(KeyAction::ClearField);  // Ctrl-U
    case 0x17:
      return action(KeyAction::DeleteWordBackward);  // Ctrl-W
    default:
      break;
  }
  if (isControl(c)) return std::nullopt;
  return Key{KeyAction::Character, c, false};
}

std::optional<Key> KeyDecoder::pasted(char32_t c) {
  if (pastedCount_ >= kPasteLimit) return std::nullopt;
  ++pastedCount_;
  if (c == U'\t' || c == U'\r' || c == U'\n') c = U' ';
  if (isControl(c)) return std::nullopt;
  return Key{KeyAction::Character, c, true};
}

std::optional<Key> KeyDecoder::finishCsi(char32_t final) {
  // Private sequences (mouse, focus reports) start with one of "<=>?".
  if (!parameters_.empty() && parameters_[0] >= '<' && parameters_[0] <= '?') return std::nullopt;
  // The first parameter names the key; later ones carry modifiers (Ctrl, Shift).
  std::string_view first = std::string_view(parameters_).substr(0, parameters_.find(';'));
  if (final == U'~') {
    if (first == "1" || first == "7") return action(KeyAction::Home);
    if (first == "4" || first == "8") return action(KeyAction::End);
    if (first == "3") return action(KeyAction::Delete);
    if (first == "200") {
      state_ = State::Paste;
      pastedCount_ = 0;
    }
    return std::nullopt;
  }
  if (final == U'Z') return action(KeyAction::BackTab);
  // "1;5D": the second parameter is 1 + the modifier bits (Shift 1, Alt 2,
  // Ctrl 4); an arrow with Alt or Ctrl moves by word.
  std::size_t semicolon = parameters_.find(';');
  if (semicolon != std::string::npos && (final == U'C' || final == U'D')) {
    int modifiers = 0;
    for (char digit : std::string_view(parameters_).substr(semicolon + 1)) {
      if (digit < '0' || digit > '9' || modifiers > 99) break;
      modifiers = modifiers * 10 + (digit - '0');
    }
    if (modifiers > 1 && ((modifiers - 1) & 6) != 0) {
      return action(final == U'C' ? KeyAction::WordRight : KeyAction::WordLeft);
    }
  }
  return fromFinal(final);
}

}  // namespace zeph
