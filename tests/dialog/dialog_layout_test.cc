// Where a terminal dialog's parts land, for many screen sizes and texts,
// without a terminal.

#include "dialog/dialog_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dialog/grapheme.h"
#include "support/utf8_locale.h"

namespace zeph {
namespace {

DialogTexts confirmation() {
  return {
      .title = U"Put zeph\u00B0 on every screen?",
      .body = U"This installs the zeph screensaver and turns it on for all of your monitors and desktops.",
      .buttons = {U"< Install >", U"[ Quit ]"},
      .hasField = false,
      .hints = {U"Tab move \u00B7 Enter choose \u00B7 Esc Quit", U"Esc Quit"}};
}

DialogTexts cityPrompt() {
  return {.title = U"Which city's weather should zeph show?",
          .body =
              U"Type a city \u2014 \u201CPortland, Maine\u201D or \u201COslo\u201D. You can change it later "
              U"in zeph's settings.",
          .buttons = {U"< Use this city >", U"[ Skip ]"},
          .hasField = true,
          .hints = {U"Tab move \u00B7 Enter choose \u00B7 Esc Skip", U"Esc Skip"}};
}

DialogTexts completion() {
  return {.title = U"zeph\u00B0 is ready",
          .body =
              U"zeph is now your screensaver on every screen. It starts when your Mac has been idle.\n\n"
              U"You haven't set a city yet, so zeph will show the clock until you do \u2014 open System "
              U"Settings \u2192 Screen Saver \u2192 zeph\u00B0 \u2192 Options to add one.",
          .buttons = {U"< Open Screen Saver Settings >", U"[ Done ]"},
          .hasField = false,
          .hints = {U"Tab move \u00B7 Enter choose \u00B7 Esc Done", U"Esc Done"}};
}

class DialogLayoutTest : public ::testing::Test {
 protected:
  // Everything placed lies inside the screen and inside the box's frame,
  // and no two parts share a row unless they are side-by-side buttons.
  static void expectInside(const DialogLayout& layout, int columns, int rows) {
    ASSERT_FALSE(layout.tooSmall);
    EXPECT_GE(layout.top, 0);
    EXPECT_GE(layout.left, 0);
    EXPECT_LE(layout.top + layout.height, rows);
    EXPECT_LE(layout.left + layout.width, columns);
    std::vector<int> used;
    auto inside = [&](int row, int column, int width) {
      EXPECT_GT(row, layout.top);
      EXPECT_LT(row, layout.top + layout.height - 1);
      EXPECT_GE(column, layout.left + 2);
      EXPECT_LE(column + width, layout.left + layout.width - 2);
    };
    for (const PlacedLine& line : layout.lines) {
      inside(line.row, line.column, columnWidth(line.text));
      used.push_back(line.row);
    }
    if (layout.field) {
      inside(layout.field->row, layout.field->column, layout.field->width);
      used.push_back(layout.field->row);
    }
    std::vector<int> buttonRows;
    for (const PlacedButton& button : layout.buttons) {
      inside(button.row, button.column, columnWidth(button.label));
      if (buttonRows.empty() || buttonRows.back() != button.row) buttonRows.push_back(button.row);
    }
    used.insert(used.end(), buttonRows.begin(), buttonRows.end());
    std::sort(used.begin(), used.end());
    EXPECT_EQ(std::adjacent_find(used.begin(), used.end()), used.end()) << "two parts on one row";
  }

  static std::vector<std::u32string> linesOf(const DialogLayout& layout, LineStyle style) {
    std::vector<std::u32string> out;
    for (const PlacedLine& line : layout.lines) {
      if (line.style == style) out.push_back(line.text);
    }
    return out;
  }

  test_support::Utf8Locale locale_;
};

TEST_F(DialogLayoutTest, RoomyScreenShowsEverythingInOrder) {
  DialogLayout layout = layOutDialog(cityPrompt(), 80, 24);
  expectInside(layout, 80, 24);
  EXPECT_EQ(layout.width, kMaxBoxWidth);
  EXPECT_EQ(layout.left, 4);
  EXPECT_EQ(linesOf(layout, LineStyle::Title),
            (std::vector<std::u32string>{U"Which city's weather should zeph show?"}));
  EXPECT_EQ(linesOf(layout, LineStyle::Body).size(), 2u);
  EXPECT_EQ(linesOf(layout, LineStyle::Hint),
            (std::vector<std::u32string>{U"Tab move \u00B7 Enter choose \u00B7 Esc Skip"}));
  ASSERT_TRUE(layout.field);
  EXPECT_EQ(layout.field->width, kMaxBoxWidth - 4);
  // Title, blank, two body lines, blank, field, blank, buttons side by side, hint.
  ASSERT_EQ(layout.buttons.size(), 2u);
  EXPECT_EQ(layout.field->row, layout.top + 6);
  EXPECT_EQ(layout.buttons[0].row, layout.field->row + 2);
  EXPECT_EQ(layout.buttons[1].row, layout.buttons[0].row);
  // Right-aligned, the default button first, two columns apart.
  EXPECT_EQ(layout.buttons[1].column + columnWidth(layout.buttons[1].label), layout.left + layout.width - 2);
  EXPECT_EQ(layout.buttons[0].column + columnWidth(layout.buttons[0].label) + 2, layout.buttons[1].column);
  EXPECT_EQ(layout.height, 11);
}

TEST_F(DialogLayoutTest, FieldAndButtonsStayOnScreenAtEverySizeFromTheMinimumUp) {
  for (const DialogTexts& texts : {confirmation(), cityPrompt(), completion()}) {
    for (int columns = kMinColumns; columns <= 100; columns += 3) {
      for (int rows = kMinRows; rows <= 30; ++rows) {
        SCOPED_TRACE(std::to_string(columns) + "x" + std::to_string(rows));
        DialogLayout layout = layOutDialog(texts, columns, rows);
        expectInside(layout, columns, rows);
        EXPECT_EQ(layout.buttons.size(), texts.buttons.size());
        EXPECT_EQ(layout.field.has_value(), texts.hasField);
        EXPECT_FALSE(linesOf(layout, LineStyle::Title).empty());
      }
    }
  }
}

TEST_F(DialogLayoutTest, BodyGivesWayFirstAndItsLastLineSaysSo) {
  DialogLayout layout = layOutDialog(completion(), 40, 10);
  expectInside(layout, 40, 10);
  std::vector<std::u32string> body = linesOf(layout, LineStyle::Body);
  ASSERT_FALSE(body.empty());
  EXPECT_EQ(body.back(), U"Mac has been idle.\u2026");  // the mark is not left alone on a blank line
  // 40 columns cannot hold both buttons side by side: they stack.
  ASSERT_EQ(layout.buttons.size(), 2u);
  EXPECT_EQ(layout.buttons[1].row, layout.buttons[0].row + 1);
  EXPECT_EQ(layout.buttons[0].label, U"< Open Screen Saver Settings >");
}

TEST_F(DialogLayoutTest, RegressionLongQuotedCityNoLongerFillsTheScreen) {
  // A 2,100-character city made the title fill every row and hid the buttons.
  DialogTexts texts{.title = U"Couldn't find \u201C" + std::u32string(2100, U'x') + U"\u201D",
                    .body = U"Try a nearby larger city, or add the state or country.",
                    .buttons = {U"< Try again >", U"[ Skip ]"},
                    .hasField = false,
                    .hints = {U"Esc Skip"}};
  DialogLayout layout = layOutDialog(texts, 80, 24);
  expectInside(layout, 80, 24);
  std::vector<std::u32string> title = linesOf(layout, LineStyle::Title);
  ASSERT_EQ(title.size(), static_cast<std::size_t>(kMaxTitleLines));
  EXPECT_EQ(title.front().substr(0, 15), U"Couldn't find \u201C");
  // The shortened quote still closes.
  EXPECT_EQ(title.back().substr(title.back().size() - 2), U"\u2026\u201D");
  EXPECT_EQ(linesOf(layout, LineStyle::Body).size(), 1u);
}

TEST_F(DialogLayoutTest, LongButtonLabelsAreShortenedInsideTheirBrackets) {
  DialogTexts texts{.title = U"Show weather for " + std::u32string(80, U'L') + U"?",
                    .body = U"",
                    .buttons = {U"< Use " + std::u32string(80, U'L') + U" >", U"[ Pick a different city ]"},
                    .hasField = false,
                    .hints = {U"Esc Pick a different city"}};
  DialogLayout layout = layOutDialog(texts, 40, 12);
  expectInside(layout, 40, 12);
  const std::u32string& label = layout.buttons[0].label;
  EXPECT_EQ(columnWidth(label), 36);
  EXPECT_EQ(label.substr(label.size() - 3), U"\u2026 >");
}

TEST_F(DialogLayoutTest, HintShortensThenGoesBeforeTheButtonsWould) {
  DialogTexts texts = cityPrompt();
  DialogLayout narrow = layOutDialog(texts, 40, 20);
  EXPECT_EQ(linesOf(narrow, LineStyle::Hint),
            (std::vector<std::u32string>{U"Tab move \u00B7 Enter choose \u00B7 Esc Skip"}));
  texts.hints = {U"Tab move \u00B7 Enter choose \u00B7 Esc Pick a different city",
                 U"Esc Pick a different city"};
  EXPECT_EQ(linesOf(layOutDialog(texts, 40, 20), LineStyle::Hint),
            (std::vector<std::u32string>{U"Esc Pick a different city"}));
}

TEST_F(DialogLayoutTest, BelowTheMinimumOnlyTheRequestToEnlargeShows) {
  DialogLayout wide = layOutDialog(cityPrompt(), 60, 5);
  ASSERT_TRUE(wide.tooSmall);
  EXPECT_TRUE(wide.buttons.empty());
  EXPECT_FALSE(wide.field);
  ASSERT_EQ(wide.lines.size(), 1u);
  EXPECT_EQ(wide.lines[0].text, U"Terminal too small \u2014 make it at least 40\u00D710");
  EXPECT_EQ(wide.lines[0].row, 2);

  DialogLayout small = layOutDialog(cityPrompt(), 20, 5);
  ASSERT_TRUE(small.tooSmall);
  for (const PlacedLine& line : small.lines) EXPECT_LE(line.column + columnWidth(line.text), 20);
  EXPECT_GT(small.lines.size(), 1u);  // wrapped, not cut

  DialogLayout tiny = layOutDialog(cityPrompt(), 12, 1);
  ASSERT_EQ(tiny.lines.size(), 1u);
  EXPECT_EQ(tiny.lines[0].text, U"Too small");
  EXPECT_EQ(layOutDialog(cityPrompt(), 1, 1).lines[0].text, U"\u2026");
  EXPECT_TRUE(layOutDialog(cityPrompt(), 39, 40).tooSmall);
  EXPECT_TRUE(layOutDialog(cityPrompt(), 200, 9).tooSmall);
}

TEST_F(DialogLayoutTest, StatusLineIsShortenedToItsBox) {
  DialogLayout status =
      layOutStatus(U"Looking up \u201C" + std::u32string(300, U'O') + U"\u201D\u2026", 80, 24);
  ASSERT_EQ(status.lines.size(), 1u);
  EXPECT_EQ(status.width, kMaxBoxWidth);
  EXPECT_EQ(columnWidth(status.lines[0].text), kMaxBoxWidth - 4);
  EXPECT_EQ(status.lines[0].row, status.top + 1);
  EXPECT_EQ(status.lines[0].column, status.left + 2);
  DialogLayout installing = layOutStatus(U"Installing\u2026", 80, 24);
  EXPECT_EQ(installing.lines[0].text, U"Installing\u2026");
  // A short status sits in the middle of its box.
  EXPECT_NEAR(installing.lines[0].column - installing.left,
              installing.left + installing.width - (installing.lines[0].column + 11), 1);
  EXPECT_TRUE(layOutStatus(U"Installing\u2026", 30, 12).tooSmall);
}

TEST(WrapText, BreaksBetweenWordsAndCutsOnlyOverlongOnes) {
  test_support::Utf8Locale locale;
  EXPECT_EQ(wrapText(U"one two three", 7), (std::vector<std::u32string>{U"one two", U"three"}));
  EXPECT_EQ(wrapText(U"a\n\nb", 7), (std::vector<std::u32string>{U"a", U"", U"b"}));
  EXPECT_EQ(wrapText(U"abcdefgh", 3), (std::vector<std::u32string>{U"abc", U"def", U"gh"}));
  // Two-column characters never split across the edge.
  EXPECT_EQ(wrapText(U"\u6771\u4EAC\u90FD", 3),
            (std::vector<std::u32string>{U"\u6771", U"\u4EAC", U"\u90FD"}));
  EXPECT_EQ(shortenToColumns(U"Portland, Maine", 9), U"Portland\u2026");
  EXPECT_EQ(shortenToColumns(U"Oslo", 4), U"Oslo");
}

}  // namespace
}  // namespace zeph
