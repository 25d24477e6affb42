#ifndef ZEPH_PLIST_INTERNAL_TEXT_UTF_H_
#define ZEPH_PLIST_INTERNAL_TEXT_UTF_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zeph::plist {

/// Unicode helpers of the text formats, beside the UTF-8 ones of
/// text/utf8.h: whole documents in UTF-16 or UTF-32 to UTF-8, and the UTF-16
/// ordering the platform sorts dictionary keys by. All work on caller-owned
/// buffers and keep no state.

/// Offset of the first surrogate encoded in its 3-byte form (the binary codec
/// keeps lone surrogates that way), or npos. Other bytes are not checked.
std::size_t findEncodedSurrogate(std::string_view text);

/// True when `a` sorts before `b` comparing their UTF-16 forms unit by unit.
/// That differs from UTF-8 byte order only in putting U+10000 and above before
/// U+E000…U+FFFF. Both strings must be well-formed UTF-8.
bool lessInUtf16Order(std::string_view a, std::string_view b);

/// How a document's first bytes say it is encoded.
enum class TextEncoding { Utf8, Utf16Le, Utf16Be, Utf32Le, Utf32Be };

struct EncodingMark {
  TextEncoding encoding = TextEncoding::Utf8;
  std::size_t markLength = 0;  // bytes of byte-order mark to skip
  bool marked = false;         // a byte-order mark (not a guess) said so
};

/// The encoding a byte-order mark announces. Without one, a NUL in either of
/// the first two bytes means UTF-16 (big-endian when the NUL comes first);
/// anything else is taken as UTF-8.
EncodingMark detectEncoding(std::span<const std::uint8_t> bytes);

/// Converts UTF-16 or UTF-32 `bytes` (mark already removed) to UTF-8 in `out`.
/// Returns npos, or the offset of the first unit that has no code point (an
/// unpaired surrogate, a value above U+10FFFF, a truncated unit).
std::size_t convertToUtf8(std::span<const std::uint8_t> bytes, TextEncoding encoding, std::string& out);

}  // namespace zeph::plist

#endif  // ZEPH_PLIST_INTERNAL_TEXT_UTF_H_
