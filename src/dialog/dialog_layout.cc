#include "dialog/dialog_layout.h"

#include <algorithm>
#include <string_view>

#include "dialog/grapheme.h"

namespace zeph {
namespace {

constexpr char32_t kEllipsis = U'\u2026';
constexpr char32_t kClosingQuote = U'\u201D';
constexpr std::u32string_view kTooSmall = U"Terminal too small \u2014 make it at least 40\u00D710";
constexpr std::u32string_view kTooSmallShort = U"Too small";

// As much of `text` from its start as fits in `columns`, whole characters only.
std::u32string_view cutToColumns(std::u32string_view text, int columns) {
  int used = 0;
  std::size_t end = 0;
  while (end < text.size()) {
    std::size_t next = nextCharacterBoundary(text, end);
    int w = columnWidth(text.substr(end, next - end));
    if (used + w > columns) break;
    used += w;
    end = next;
  }
  return text.substr(0, end);
}

// `line` ending in "…" and then `tail` (a closing quote, a button's bracket),
// within `columns`.
std::u32string markedAsCut(std::u32string_view line, std::u32string_view tail, int columns) {
  std::u32string head(cutToColumns(line, std::max(columns - 1 - columnWidth(tail), 0)));
  while (!head.empty() && head.back() == U' ') head.pop_back();
  return head + kEllipsis + std::u32string(tail);
}

// `text` shortened to `columns`, keeping its last `keep` code points.
std::u32string shortenKeepingEnd(std::u32string_view text, int columns, std::size_t keep) {
  if (columnWidth(text) <= columns) return std::u32string(text);
  keep = std::min(keep, text.size());
  std::u32string_view tail = text.substr(text.size() - keep);
  if (columnWidth(tail) + 1 > columns) return shortenToColumns(text, columns);
  return markedAsCut(text.substr(0, text.size() - keep), tail, columns);
}

DialogLayout tooSmallLayout(int columns, int rows) {
  DialogLayout layout;
  layout.tooSmall = true;
  columns = std::max(columns, 1);
  rows = std::max(rows, 1);
  std::vector<std::u32string> lines = wrapText(kTooSmall, columns);
  if (static_cast<int>(lines.size()) > rows) lines = {shortenToColumns(kTooSmallShort, columns)};
  const int top = (rows - static_cast<int>(lines.size())) / 2;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    int column = std::max((columns - columnWidth(lines[i])) / 2, 0);
    layout.lines.push_back({top + static_cast<int>(i), column, lines[i], LineStyle::Notice});
  }
  return layout;
}

}  // namespace

std::u32string shortenToColumns(std::u32string_view text, int columns) {
  if (columnWidth(text) <= columns) return std::u32string(text);
  if (columns <= 0) return {};
  return markedAsCut(text, U"", columns);
}

std::vector<std::u32string> wrapText(std::u32string_view text, int columns) {
  std::vector<std::u32string> lines;
  columns = std::max(columns, 1);
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find(U'\n', start);
    std::u32string_view paragraph = text.substr(start, end == std::u32string_view::npos ? end : end - start);
    std::u32string line;
    int lineWidth = 0;
    std::size_t i = 0;
    while (i < paragraph.size()) {
      std::size_t wordEnd = std::min(paragraph.find(U' ', i), paragraph.size());
      std::u32string_view word = paragraph.substr(i, wordEnd - i);
      int wordWidth = columnWidth(word);
      int needed = lineWidth == 0 ? wordWidth : lineWidth + 1 + wordWidth;
      if (needed <= columns) {
        if (lineWidth != 0) line += U' ';
        line += word;
        lineWidth = needed;
      } else if (wordWidth <= columns) {
        lines.push_back(line);
        line = word;
        lineWidth = wordWidth;
      } else {
        // A word wider than a line is cut between characters, starting
        // on the current line when that has room.
        if (lineWidth != 0 && lineWidth + 2 <= columns) {
          line += U' ';
          ++lineWidth;
        } else if (lineWidth != 0) {
          lines.push_back(line);
          line.clear();
          lineWidth = 0;
        }
        for (std::size_t k = 0; k < word.size();) {
          std::size_t next = nextCharacterBoundary(word, k);
          int w = columnWidth(word.substr(k, next - k));
          if (lineWidth + w > columns && lineWidth != 0) {
            lines.push_back(line);
            line.clear();
            lineWidth = 0;
          }
          line += word.substr(k, next - k);
          lineWidth += w;
          k = next;
        }
      }
      i = wordEnd + 1;
    }
    lines.push_back(line);
    if (end == std::u32string_view::npos) break;
    start = end + 1;
  }
  return lines;
}

DialogLayout layOutDialog(const DialogTexts& texts, int columns, int rows) {
  if (columns < kMinColumns || rows < kMinRows) return tooSmallLayout(columns, rows);
  DialogLayout layout;
  layout.width = std::min(columns, kMaxBoxWidth);
  layout.left = (columns - layout.width) / 2;
  const int inner = layout.width - 4;

  std::vector<std::u32string> title = wrapText(texts.title, inner);
  std::vector<std::u32string> body;
  if (!texts.body.empty()) body = wrapText(texts.body, inner);
  std::vector<std::u32string> labels;
  int sideBySide = 0;
  for (const std::u32string& label : texts.buttons) {
    labels.push_back(shortenKeepingEnd(label, inner, 2));
    sideBySide += columnWidth(labels.back()) + (labels.size() > 1 ? 2 : 0);
  }
  const bool stacked = sideBySide > inner;
  const int buttonRows = stacked ? static_cast<int>(labels.size()) : 1;
  std::optional<std::u32string> hint;
  for (const std::u32string& candidate : texts.hints) {
    if (columnWidth(candidate) <= inner) {
      hint = candidate;
      break;
    }
  }

  // What the box holds, before anything gives way.
  std::size_t titleShown = std::min<std::size_t>(title.size(), kMaxTitleLines);
  std::size_t bodyShown = body.size();
  bool blankAfterTitle = true, blankBeforeControls = true, blankAfterField = texts.hasField;
  bool hintShown = hint.has_value();
  auto height = [&] {
    return 2 + static_cast<int>(titleShown) + (bodyShown > 0 && blankAfterTitle ? 1 : 0) +
           static_cast<int>(bodyShown) + (blankBeforeControls ? 1 : 0) + (texts.hasField ? 1 : 0) +
           (blankAfterField ? 1 : 0) + buttonRows + (hintShown ? 1 : 0);
  };
  // Giving way, in order: blank rows, body lines, title lines, the hint.
  if (height() > rows) blankAfterField = false;
  if (height() > rows) blankAfterTitle = false;
  if (height() > rows && (bodyShown > 0 || texts.hasField)) blankBeforeControls = false;
  while (height() > rows && bodyShown > 0) --bodyShown;
  // A cut body does not end on a blank line: its mark goes on the words before.
  while (bodyShown > 0 && bodyShown < body.size() && body[bodyShown - 1].empty()) --bodyShown;
  while (height() > rows && titleShown > 1) --titleShown;
  if (height() > rows) hintShown = false;
  if (height() > rows) return tooSmallLayout(columns, rows);

  layout.height = height();
  layout.top = (rows - layout.height) / 2;
  const int column = layout.left + 2;
  int row = layout.top + 1;
  for (std::size_t i = 0; i < titleShown; ++i) {
    std::u32string line = title[i];
    if (i + 1 == titleShown && titleShown < title.size()) {
      // The title goes on: say so, and close a quotation it cut open.
      bool quoted = !texts.title.empty() && texts.title.back() == kClosingQuote;
      line = markedAsCut(line, quoted ? U"\u201D" : U"", inner);
    }
    layout.lines.push_back({row++, column, line, LineStyle::Title});
  }
  if (bodyShown > 0) {
    if (blankAfterTitle) ++row;
    for (std::size_t i = 0; i < bodyShown; ++i) {
      std::u32string line = body[i];
      if (i + 1 == bodyShown && bodyShown < body.size()) line = markedAsCut(line, U"", inner);
      layout.lines.push_back({row++, column, line, LineStyle::Body});
    }
  }
  if (blankBeforeControls) ++row;
  if (texts.hasField) {
    layout.field = PlacedField{row++, column, inner};
    if (blankAfterField) ++row;
  }
  if (stacked) {
    for (const std::u32string& label : labels) {
      layout.buttons.push_back({row++, column + inner - columnWidth(label), label});
    }
  } else {
    int x = column + inner - sideBySide;
    for (const std::u32string& label : labels) {
      layout.buttons.push_back({row, x, label});
      x += columnWidth(label) + 2;
    }
    ++row;
  }
  if (hintShown) layout.lines.push_back({row, column + inner - columnWidth(*hint), *hint, LineStyle::Hint});
  return layout;
}

DialogLayout layOutStatus(const std::u32string& status, int columns, int rows) {
  if (columns < kMinColumns || rows < kMinRows) return tooSmallLayout(columns, rows);
  DialogLayout layout;
  layout.width = std::min({columns, kMaxBoxWidth, columnWidth(status) + 4});
  layout.width = std::max(layout.width, std::min(columns, 24));
  layout.height = 3;
  layout.left = (columns - layout.width) / 2;
  layout.top = (rows - layout.height) / 2;
  std::u32string line = shortenToColumns(status, layout.width - 4);
  const int column = layout.left + (layout.width - columnWidth(line)) / 2;
  layout.lines.push_back({layout.top + 1, column, line, LineStyle::Body});
  return layout;
}

}  // namespace zeph
