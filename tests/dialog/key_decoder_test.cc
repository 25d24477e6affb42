// What terminals send, turned into dialog keys: the library's named keys,
// the common escape sequences it may not know, bracketed paste, Esc and Alt.

#include "dialog/key_decoder.h"

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
    static const char* kNames[] = {"char",   "Enter",    "Tab",       "BackTab",   "Esc",        "Backspace",
                                   "Delete", "Left",     "Right",     "Up",        "Down",       "Home",
                                   "End",    "WordLeft", "WordRight", "KillToEnd", "DeleteWord", "Clear"};
    std::string text = kNames[static_cast<int>(key.action)];
    if (key.action == KeyAction::Character) {
      text = (key.pasted ? "paste:" : "") +
             std::string(1, key.codePoint < 0x80 ? static_cast<char>(key.codePoint) : '?');
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

TEST(KeyDecoder, TerminalInputBecomesKeysOrNothing) {
  const struct {
    std::u32string input;
    Keys keys;
  } cases[] = {
      // The forms tmux, xterm, the Linux console and vt100-type terminals send.
      {U"\x1b[H\x1b[F\x1b[1~\x1b[4~\x1bOH\x1bOF\x1b[7~\x1b[8~",
       {"Home", "End", "Home", "End", "Home", "End", "Home", "End"}},
      {U"\x1b[3~\x1b[Z", {"Delete", "BackTab"}},
      {U"\x1b[A\x1b[B\x1b[C\x1b[D\x1bOC", {"Up", "Down", "Right", "Left", "Right"}},
      // Arrows with Ctrl (5), Alt (3), Ctrl-Alt (7) move by word, with Shift (2) by character; Alt-b, Alt-f.
      {U"\x1b[1;5D\x1b[1;5C\x1b[1;3D\x1b[1;7C\x1b[1;2D\x1b[1;2C\x1b[1;5A\x1b"
       U"b\x1b"
       U"f",
       {"WordLeft", "WordRight", "WordLeft", "WordRight", "Left", "Right", "Up", "WordLeft", "WordRight"}},
      // Regression: once typed "[1~", "[H", "b": F-keys, focus reports, mouse, other Alt keys.
      {U"\x1b[15~\x1b[I\x1b[<0;3;4M\x1b[?1;2c\x1bOP\x1b"
       U"x"
       U"ok",
       {"o", "k"}},
      // A sequence broken off by a control character: the character still counts.
      {U"\x1b[12\r", {"Enter"}},
      {U"\x1b[1", {}},  // cut short by silence: dropped whole
      // Overlong parameter runs are read to their end and dropped.
      {U"\x1b[" + std::u32string(200, U'1') + U"~x", {"x"}},
      // A lone Esc is Escape only when nothing follows; two presses are two.
      {U"\x1b", {"Esc"}},
      {U"\x1b\x1b", {"Esc", "Esc"}},
      // The control keys of a shell's line editor; other control characters do nothing.
      {U"\x01\x05\x0b\x17\x15\x7f\x08\t\r\n",
       {"Home", "End", "KillToEnd", "DeleteWord", "Clear", "Backspace", "Backspace", "Tab", "Enter",
        "Enter"}},
      {U"\x02\x06\x0e\x1c\x9b", {}},
      // Pasted tabs and line breaks are spaces, not keys.
      {U"\x1b[200~Os\tN\r\n\x1b[201~\r",
       {"paste:O", "paste:s", "paste: ", "paste:N", "paste: ", "paste: ", "Enter"}},
      // Escape sequences inside a paste are neither text nor keys; a stray end marker is nothing.
      {U"\x1b[200~a\x1b[3~b\x1b[201~", {"paste:a", "paste:b"}},
      {U"\x1b[201~x", {"x"}},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(decode(cases[i].input), cases[i].keys) << "case " << i;
}

TEST(KeyDecoder, LoneEscWaitsForSilence) {
  KeyDecoder decoder;
  EXPECT_EQ(decode(decoder, U"\x1b", false), Keys{});
  EXPECT_TRUE(decoder.midSequence());
  EXPECT_EQ(decode(decoder, U"", true), (Keys{"Esc"}));
  EXPECT_FALSE(decoder.midSequence());
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
