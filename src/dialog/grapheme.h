#ifndef ZEPH_TEXT_GRAPHEME_H_
#define ZEPH_TEXT_GRAPHEME_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace zeph {

/// User-perceived characters and terminal columns, close enough for a text
/// field without a Unicode segmentation library: a code point that the C
/// library says takes no columns (combining marks, variation selectors), the
/// zero-width joiner and the code point after it, an emoji skin-tone modifier,
/// and the second regional indicator of a flag pair all belong to the
/// character before them. Widths come from wcwidth() and so from LC_CTYPE.

/// Columns `codePoint` takes on a terminal: 0, 1 or 2. Code points the C
/// library does not know count as one column, so nothing is drawn wider
/// than it was measured.
int columnWidth(char32_t codePoint);

/// Columns of the whole of `text`. A zero-width-joiner sequence (👩‍👩‍👧)
/// takes the columns of its first code point, as terminals that join it draw
/// it and as drawableText() leaves it.
int columnWidth(std::u32string_view text);

/// `text` as a terminal library that keeps one spacing code point per cell
/// can draw it in columnWidth(text) columns: a zero-width-joiner sequence
/// keeps only what comes before its first joiner.
std::u32string drawableText(std::u32string_view text);

/// Whether a character boundary lies before text[index] (true at 0 and at the end).
bool isCharacterBoundary(std::u32string_view text, std::size_t index);

/// The boundary before `index` (0 stays 0).
std::size_t previousCharacterBoundary(std::u32string_view text, std::size_t index);

/// The boundary after `index` (the end stays the end).
std::size_t nextCharacterBoundary(std::u32string_view text, std::size_t index);

}  // namespace zeph

#endif  // ZEPH_TEXT_GRAPHEME_H_
