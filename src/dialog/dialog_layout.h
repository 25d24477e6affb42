#ifndef ZEPH_PLATFORM_DIALOG_LAYOUT_H_
#define ZEPH_PLATFORM_DIALOG_LAYOUT_H_

#include <optional>
#include <string>
#include <vector>

namespace zeph {

/// Where a terminal dialog's parts land on a screen of a given size. Pure:
/// texts in, rows and columns out (0-based, from the screen's top left), so
/// tests can check any size without a terminal. Texts are code points,
/// already free of control characters except the line feeds of the body.
///
/// The box is at most kMaxBoxWidth columns wide and centred. The field and
/// the buttons always stay on screen; the body text gives way first (its last
/// line shown ends in "…"), then the blank rows, then the title's lines, then
/// the key hint. A title longer than its room is shortened with "…", keeping
/// a closing quotation mark. Buttons that do not fit side by side stack.
/// Below kMinColumns × kMinRows the screen shows only a request to enlarge it.

inline constexpr int kMinColumns = 40;
inline constexpr int kMinRows = 10;
inline constexpr int kMaxBoxWidth = 72;
inline constexpr int kMaxTitleLines = 3;

struct DialogTexts {
  std::u32string title;
  std::u32string body;                  // may hold line feeds; may be empty
  std::vector<std::u32string> buttons;  // labels as drawn, brackets included; at least one
  bool hasField = false;
  std::vector<std::u32string> hints;  // the key hint, longest first; the first that fits is shown
};

enum class LineStyle { Title, Body, Hint, Notice };

struct PlacedLine {
  int row = 0;
  int column = 0;
  std::u32string text;  // fits where it is placed
  LineStyle style = LineStyle::Body;
};

struct PlacedField {
  int row = 0;
  int column = 0;
  int width = 0;
};

struct PlacedButton {
  int row = 0;
  int column = 0;
  std::u32string label;  // shortened with "…" inside its brackets when the box is narrow
};

struct DialogLayout {
  bool tooSmall = false;  // only `lines` (the notice) is set
  int top = 0, left = 0;  // the box's frame
  int height = 0, width = 0;
  std::vector<PlacedLine> lines;  // title, body, hint
  std::optional<PlacedField> field;
  std::vector<PlacedButton> buttons;  // in the order of DialogTexts::buttons
};

/// The dialog on a screen `columns` × `rows`.
DialogLayout layOutDialog(const DialogTexts& texts, int columns, int rows);

/// A one-line status ("Installing…") in a box of its own.
DialogLayout layOutStatus(const std::u32string& status, int columns, int rows);

/// `text` cut to at most `columns` columns, ending in "…" when cut.
std::u32string shortenToColumns(std::u32string_view text, int columns);

/// `text` split at line feeds, then between words, into lines of at most
/// `columns` columns; a word wider than a line is cut into pieces.
std::vector<std::u32string> wrapText(std::u32string_view text, int columns);

}  // namespace zeph

#endif  // ZEPH_PLATFORM_DIALOG_LAYOUT_H_
