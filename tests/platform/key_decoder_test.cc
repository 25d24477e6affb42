// What terminals send, turned into dialog keys: the library's named keys,
// the common escape sequences it may not know, bracketed paste, Esc and Alt.

#include "platform/key_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zeph {
namespace {

// Feeds `bytes` (ASCII, or code points) as read one by one, then reports no
// more input; returns every key that came out, as short names.
std::vector<std::string> decode(KeyDecoder& decoder, std::u32string_view input, bool thenQuiet = true) {
  std::vector<std::string> keys;
  auto name = [&](const Key& key) {
    static const char* kNames[] = {"char", "Enter", "Tab", "BackTab", "Esc", "Backspace", "Delete", "Left",
                                   "Right", "Up", "Down", "Home", "End", "KillToEnd", "DeleteWord", "Clear"};
    std::string text = kNames[static_cast<int>(key.action)];
    if (key.action == KeyAction::Character) {
      text = (key.pasted ? "paste:" : "") + std::string(1, key.codePoint < 0x80 ? static_cast<char>(key.codePoint) : '?');
    }
    keys.push_back(text);
  };
  for (char32_t c : input) {
    if (std::optional<Key> key = decoder.feed(KeyInput{std::nullopt, c})) name(*key);
  }
  if (thenQuiet) {
    if (std::optional<Key> key = decoder.noMoreInput()) name(*key);
  }
  return keys;
}

std::vector<std::string> decode(std::u32string_view input) {
  KeyDecoder decoder;
  return decode(decoder, input);
}

using Keys = std::vector<std::string>;

TEST(KeyDecoder, CommonHomeEndDeleteAndShiftTabForms) {
  // The forms tmux, xterm, the Linux console and vt100-type terminals send.
  EXPECT_EQ(decode(U"\x1b[H\x1b[F\x1b[1~\x1b[4~\x1bOH\x1bOF\x1b[7~\x1b[8~"),
            (Keys{"Home", "End", "Home", "End", "Home", "End", "Home", "End"}));
  EXPECT_EQ(decode(U"\x1b[3~\x1b[Z"), (Keys{"Delete", "BackTab"}));
  EXPECT_EQ(decode(U"\x1b[A\x1b[B\x1b[C\x1b[D\x1bOC\x1b[1;5D"), (Keys{"Up", "Down", "Right", "Left", "Right", "Left"}));
}

TEST(KeyDecoder, RegressionUnknownSequencesAreNeverTyped) {
  // Once typed "[1~", "[H", "b": F-keys, focus reports, mouse, Alt-b.
  EXPECT_EQ(decode(U"\x1b[15~\x1b[I\x1b[<0;3;4M\x1b[?1;2c\x1bOP\x1b" U"b" U"ok"), (Keys{"o", "k"}));
  // A sequence broken off by a control character: the character still counts.
  EXPECT_EQ(decode(U"\x1b[12\r"), (Keys{"Enter"}));
  // Cut short by silence: dropped whole.
  EXPECT_EQ(decode(U"\x1b[1"), Keys{});
  // Overlong parameter runs are read to their end and dropped.
  EXPECT_EQ(decode(U"\x1b[" + std::u32string(200, U'1') + U"~x"), (Keys{"x"}));
}

TEST(KeyDecoder, LoneEscIsEscapeOnlyWhenNothingFollows) {
  EXPECT_EQ(decode(U"\x1b"), (Keys{"Esc"}));
  KeyDecoder decoder;
  EXPECT_EQ(decode(decoder, U"\x1b", false), Keys{});
  EXPECT_TRUE(decoder.midSequence());
  EXPECT_EQ(decode(decoder, U"", true), (Keys{"Esc"}));
  EXPECT_FALSE(decoder.midSequence());
  // Two presses in a row are two Escapes.
  EXPECT_EQ(decode(U"\x1b\x1b"), (Keys{"Esc", "Esc"}));
}

TEST(KeyDecoder, ControlKeysOfAShellLineEditor) {
  EXPECT_EQ(decode(U"\x01\x05\x0b\x17\x15\x7f\x08\t\r\n"),
            (Keys{"Home", "End", "KillToEnd", "DeleteWord", "Clear", "Backspace", "Backspace", "Tab", "Enter", "Enter"}));
  // Other control characters do nothing.
  EXPECT_EQ(decode(U"\x02\x06\x0e\x1c\x9b"), Keys{});
}

TEST(KeyDecoder, PastedTabsAndLineBreaksAreSpacesNotKeys) {
  EXPECT_EQ(decode(U"\x1b[200~Os\tN\r\n\x1b[201~\r"),
            (Keys{"paste:O", "paste:s", "paste: ", "paste:N", "paste: ", "paste: ", "Enter"}));
  // Escape sequences inside a paste are neither text nor keys.
  EXPECT_EQ(decode(U"\x1b[200~a\x1b[3~b\x1b[201~"), (Keys{"paste:a", "paste:b"}));
  // A stray end marker is nothing.
  EXPECT_EQ(decode(U"\x1b[201~x"), (Keys{"x"}));
}

TEST(KeyDecoder, APasteWhoseEndNeverComesIsCapped) {
  KeyDecoder decoder;
  std::u32string flood = U"\x1b[200~" + std::u32string(KeyDecoder::kPasteLimit + 10, U'a');
  EXPECT_EQ(decode(decoder, flood, false).size(), KeyDecoder::kPasteLimit);
  EXPECT_TRUE(decoder.inPaste());
  // Once input pauses the paste is over, and keys are keys again.
  EXPECT_EQ(decode(decoder, U"", true), Keys{});
  EXPECT_EQ(decode(decoder, U"\r"), (Keys{"Enter"}));
}

TEST(KeyDecoder, NamedKeysFromTheTerminalDescription) {
  KeyDecoder decoder;
  auto named = [&](NamedKey key) { return decoder.feed(KeyInput{key, 0}); };
  EXPECT_EQ(named(NamedKey::Home)->action, KeyAction::Home);
  EXPECT_EQ(named(NamedKey::BackTab)->action, KeyAction::BackTab);
  EXPECT_FALSE(named(NamedKey::Other));
  // A named key ends an unfinished sequence of ours.
  decoder.feed(KeyInput{std::nullopt, 0x1B});
  EXPECT_EQ(named(NamedKey::Delete)->action, KeyAction::Delete);
  EXPECT_FALSE(decoder.midSequence());
  // Inside a paste, a recognised Enter is still a space of text.
  for (char32_t c : std::u32string(U"\x1b[200~")) decoder.feed(KeyInput{std::nullopt, c});
  std::optional<Key> enter = named(NamedKey::Enter);
  ASSERT_TRUE(enter);
  EXPECT_TRUE(enter->pasted);
  EXPECT_EQ(enter->codePoint, U' ');
  EXPECT_FALSE(named(NamedKey::Home));
}

TEST(KeyDecoder, NonAsciiTextPassesThrough) {
  KeyDecoder decoder;
  std::optional<Key> key = decoder.feed(KeyInput{std::nullopt, U'\u00E3'});
  ASSERT_TRUE(key);
  EXPECT_EQ(key->action, KeyAction::Character);
  EXPECT_EQ(key->codePoint, U'\u00E3');
  EXPECT_FALSE(key->pasted);
}

}  // namespace
}  // namespace zeph
