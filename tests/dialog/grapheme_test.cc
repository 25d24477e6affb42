// Character boundaries and column widths, under a UTF-8 character type.

#include "dialog/grapheme.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/utf8_locale.h"

namespace zeph {
namespace {

// The boundaries of `text`, walking forward, end included.
std::vector<std::size_t> boundaries(std::u32string_view text) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < text.size();) out.push_back(i = nextCharacterBoundary(text, i));
  return out;
}

class Grapheme : public ::testing::Test {
  test_support::Utf8Locale locale_;
};

TEST_F(Grapheme, MarksAndJoinersBelongToTheCharacterBeforeThem) {
  // e + combining acute; thermometer + variation selector 16; a ZWJ family.
  EXPECT_EQ(boundaries(U"e\u0301x"), (std::vector<std::size_t>{2, 3}));
  EXPECT_EQ(boundaries(U"\U0001F321\uFE0F!"), (std::vector<std::size_t>{2, 3}));
  EXPECT_EQ(boundaries(U"\U0001F468\u200D\U0001F469\u200D\U0001F467a"), (std::vector<std::size_t>{5, 6}));
  // A waving hand with a skin tone is one character.
  EXPECT_EQ(boundaries(U"\U0001F44B\U0001F3FD"), (std::vector<std::size_t>{2}));
}

TEST_F(Grapheme, RegionalIndicatorsPairUpFromTheStartOfTheirRun) {
  // Norway, Sweden, then a lone indicator.
  std::u32string flags = U"\U0001F1F3\U0001F1F4\U0001F1F8\U0001F1EA\U0001F1E9";
  EXPECT_EQ(boundaries(flags), (std::vector<std::size_t>{2, 4, 5}));
  EXPECT_EQ(previousCharacterBoundary(flags, 5), 4u);
  EXPECT_EQ(previousCharacterBoundary(flags, 4), 2u);
  EXPECT_EQ(previousCharacterBoundary(flags, 2), 0u);
}

TEST_F(Grapheme, WalksStopAtBothEnds) {
  EXPECT_EQ(previousCharacterBoundary(U"", 0), 0u);
  EXPECT_EQ(nextCharacterBoundary(U"ab", 2), 2u);
  EXPECT_EQ(previousCharacterBoundary(U"ab", 7), 1u);
  // A mark at the very start has nothing to join and stands alone.
  EXPECT_EQ(boundaries(U"\u0301a"), (std::vector<std::size_t>{1, 2}));
}

TEST_F(Grapheme, ColumnWidths) {
  EXPECT_EQ(columnWidth(U"Oslo"), 4);
  EXPECT_EQ(columnWidth(U"\u6771\u4EAC"), 4);  // 東京: two columns each
  EXPECT_EQ(columnWidth(U"e\u0301"), 1);
  EXPECT_EQ(columnWidth(U"\u2026"), 1);
  // Control characters and unassigned code points count one column, never -1.
  EXPECT_EQ(columnWidth(U'\x07'), 1);
}

// A joined sequence takes the columns of its first code point, and is drawn
// as that alone, so that what is measured and what is drawn agree.
TEST_F(Grapheme, JoinedSequencesAreMeasuredAndDrawnAsOneCharacter) {
  const struct {
    std::u32string text;
    int columns;
    std::u32string drawn;
  } cases[] = {
      {U"\U0001F469\u200D\U0001F469\u200D\U0001F467", 2, U"\U0001F469"},  // 👩‍👩‍👧
      {U"a\U0001F468\u200D\U0001F469\u200D\U0001F467b", 4, U"a\U0001F468b"},
      {U"\U0001F3F3\uFE0F\u200D\U0001F308!", 2, U"\U0001F3F3\uFE0F!"},  // rainbow flag: the flag is 1 column
      {U"e\u0301", 1, U"e\u0301"},                                      // marks stay
      {U"\u200Dx", 1, U"\u200Dx"},                                      // a joiner with nothing before it
  };
  for (const auto& c : cases) {
    EXPECT_EQ(columnWidth(c.text), c.columns) << c.text.size();
    EXPECT_EQ(drawableText(c.text), c.drawn) << c.text.size();
  }
}

}  // namespace
}  // namespace zeph
