// The dialog field's editing keys and what a field of a given width shows.

#include "dialog/text_field.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/utf8_locale.h"

namespace zeph {
namespace {

class TextFieldTest : public ::testing::Test {
  test_support::Utf8Locale locale_;
};

// What a field `width` columns wide shows, marks included: "…" stands for hidden text.
std::u32string shown(TextField& field, int width) {
  TextField::View view = field.view(width);
  std::u32string out = view.hiddenBefore ? U"\u2026" : U"";
  out += field.text().substr(view.begin, view.end - view.begin);
  if (view.hiddenAfter) out += U"\u2026";
  return out;
}

using Editing = TextFieldTest;

TEST_F(Editing, BackspaceAndDeleteTakeWholeCharacters) {
  TextField field;
  for (char32_t c : std::u32string(U"a\U0001F321\uFE0Fe\u0301\U0001F1F3\U0001F1F4")) field.insert(c);
  EXPECT_EQ(field.cursor(), field.text().size());
  field.backspace();  // the flag, both indicators
  EXPECT_EQ(field.text(), U"a\U0001F321\uFE0Fe\u0301");
  field.backspace();  // e and its accent
  EXPECT_EQ(field.text(), U"a\U0001F321\uFE0F");
  field.backspace();  // the thermometer with its variation selector: one press
  EXPECT_EQ(field.text(), U"a");

  TextField family(U"\U0001F468\u200D\U0001F469\u200D\U0001F467!");
  family.moveToStart();
  family.deleteForward();
  EXPECT_EQ(family.text(), U"!");
}

TEST_F(Editing, WordMovesStopAtTheEdgesOfLettersAndDigits) {
  // Cursor positions after each press, from the end, then from the start.
  TextField field(U"Saint-Jean,  S\u00E3o Paulo 2");
  std::vector<std::size_t> left, right;
  for (int i = 0; i < 6; ++i) {
    field.moveWordLeft();
    left.push_back(field.cursor());
  }
  for (int i = 0; i < 6; ++i) {
    field.moveWordRight();
    right.push_back(field.cursor());
  }
  EXPECT_EQ(left, (std::vector<std::size_t>{23, 17, 13, 6, 0, 0}));
  EXPECT_EQ(right, (std::vector<std::size_t>{5, 10, 16, 22, 24, 24}));
  // A joined emoji sequence is passed over whole, never entered.
  TextField family(U"ab \U0001F469\u200D\U0001F469\u200D\U0001F467 cd");
  family.moveWordLeft();
  family.moveWordLeft();
  EXPECT_EQ(family.cursor(), 0u);
  family.moveWordRight();
  family.moveWordRight();
  EXPECT_EQ(family.cursor(), family.text().size());
}

TEST_F(Editing, ArrowsStepOverWholeCharactersAndTypingGoesAtTheCursorButNeverAControlCharacter) {
  TextField initial(U"Os\nlo\x1B");  // the cursor at the end
  EXPECT_EQ(initial.text(), U"Oslo");
  EXPECT_EQ(initial.cursor(), 4u);
  TextField field(U"e\u0301x");
  field.moveLeft();
  EXPECT_EQ(field.cursor(), 2u);
  field.moveLeft();
  EXPECT_EQ(field.cursor(), 0u);
  field.moveLeft();
  EXPECT_EQ(field.cursor(), 0u);
  field.insert(U'>');
  field.moveRight();
  EXPECT_EQ(field.cursor(), 3u);
  field.moveToEnd();
  field.insert(U'\t');  // control characters are not text
  field.insert(U'\x7F');
  EXPECT_EQ(field.text(), U">e\u0301x");
}

TEST_F(Editing, ShellKillKeys) {
  TextField field(U"Portland,  Maine  ");
  field.deleteWordBackward();  // the trailing spaces and "Maine"
  EXPECT_EQ(field.text(), U"Portland,  ");
  field.deleteWordBackward();
  EXPECT_EQ(field.text(), U"");
  field.deleteWordBackward();  // nothing left: no change, no crash
  EXPECT_EQ(field.cursor(), 0u);

  TextField city(U"San Francisco, CA");
  for (int i = 0; i < 4; ++i) city.moveLeft();
  city.killToEnd();
  EXPECT_EQ(city.text(), U"San Francisco");
  city.moveToStart();
  city.killToEnd();
  EXPECT_EQ(city.text(), U"");

  TextField middle(U"Oslo Norway");
  for (int i = 0; i < 7; ++i) middle.moveLeft();  // after "Oslo"
  middle.deleteWordBackward();
  EXPECT_EQ(middle.text(), U" Norway");
  EXPECT_EQ(middle.cursor(), 0u);

  TextField cleared(U"Oslo");
  cleared.clear();
  EXPECT_EQ(cleared.text(), U"");
}

using FieldView = TextFieldTest;

TEST_F(FieldView, ShortTextShowsWholeWithTheCursorAfterIt) {
  TextField field(U"Oslo");
  TextField::View view = field.view(10);
  EXPECT_EQ(view.begin, 0u);
  EXPECT_EQ(view.end, 4u);
  EXPECT_FALSE(view.hiddenBefore);
  EXPECT_FALSE(view.hiddenAfter);
  EXPECT_EQ(view.cursorColumn, 4);
  // Exactly the width: the cursor needs a column of its own, so the start is hidden.
  EXPECT_EQ(shown(field, 4), U"\u2026lo");
}

TEST_F(FieldView, LongTextKeepsTheCursorInViewAndMarksBothSides) {
  TextField field(U"S\u00E3o Paulo, Brazil");  // 17 columns
  EXPECT_EQ(shown(field, 10), U"\u2026, Brazil");
  EXPECT_EQ(field.view(10).cursorColumn, 9);
  field.moveToStart();
  EXPECT_EQ(shown(field, 10), U"S\u00E3o Paulo\u2026");
  EXPECT_EQ(field.view(10).cursorColumn, 0);
  for (int i = 0; i < 9; ++i) field.moveRight();  // before ","
  TextField::View view = field.view(10);
  EXPECT_TRUE(view.hiddenBefore);
  EXPECT_TRUE(view.hiddenAfter);
  EXPECT_GT(view.cursorColumn, 0);
  EXPECT_LT(view.cursorColumn, 9);
}

TEST_F(FieldView, RegressionWideningAfterScrollingShowsTheWholeTextAgain) {
  // Seen as "o Paulo, Brazil" after a terminal grew from 20 columns.
  TextField field(U"S\u00E3o Paulo, Brazil");
  field.view(8);
  EXPECT_EQ(shown(field, 40), U"S\u00E3o Paulo, Brazil");
  // Shrinking to almost nothing and back keeps the text and shows it.
  field.view(2);
  EXPECT_EQ(shown(field, 40), U"S\u00E3o Paulo, Brazil");
  EXPECT_EQ(field.view(40).cursorColumn, 17);
}

TEST_F(FieldView, ScrollsOnlyAsFarAsItMust) {
  TextField field(U"abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(shown(field, 10), U"\u2026stuvwxyz");
  field.moveLeft();
  field.moveLeft();
  // Moving left inside the view does not scroll.
  EXPECT_EQ(shown(field, 10), U"\u2026stuvwxyz");
  for (int i = 0; i < 10; ++i) field.moveLeft();
  TextField::View view = field.view(10);
  EXPECT_EQ(field.text()[view.begin], U'o');  // the cursor, right after the mark
  EXPECT_EQ(view.cursorColumn, 1);
}

TEST_F(FieldView, AJoinedSequenceFillsItsTwoColumnsWithoutAGap) {
  const std::u32string family = U"\U0001F469\u200D\U0001F469\u200D\U0001F467";
  TextField field(U"aaaaaaa" + family + U"bbbbb");
  field.moveToStart();
  EXPECT_EQ(shown(field, 10), U"aaaaaaa" + family + U"\u2026");
  field.moveToEnd();
  EXPECT_EQ(shown(field, 10), U"\u2026a" + family + U"bbbbb");
}

TEST_F(FieldView, WideCharactersNeverStraddleTheEdge) {
  TextField field(U"\u6771\u4EAC\u90FD\u6E0B\u8C37\u533A");  // six two-column characters
  field.moveToStart();
  TextField::View view = field.view(6);
  EXPECT_EQ(view.end, 2u);  // four columns of text, the cursor column taken by the mark
  EXPECT_TRUE(view.hiddenAfter);
}

}  // namespace
}  // namespace zeph
