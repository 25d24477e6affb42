#ifndef ZEPH_PLIST_INTERNAL_BINARY_TEXT_H_
#define ZEPH_PLIST_INTERNAL_BINARY_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zeph::plist {

/// Text conversions between the binary format's string objects (8-bit and
/// UTF-16BE) and the value model's UTF-8 strings. The platform does not check
/// UTF-16 for pairing, so a lone surrogate is kept as the 3-byte sequence UTF-8
/// would use for its code point (as WTF-8 does); writing turns it back into the
/// same unit, so such a string survives a round trip unit for unit.

/// Appends `count` big-endian UTF-16 units from `units` to `out` as UTF-8.
void appendUtf8FromUtf16Be(const std::uint8_t* units, std::size_t count, std::string& out);

/// Appends `count` bytes as UTF-8, each byte taken as a Latin-1 character.
void appendUtf8FromLatin1(const std::uint8_t* bytes, std::size_t count, std::string& out);

/// Replaces `units` with the UTF-16 form of `text`. Returns the offset of the
/// first byte that is not UTF-8 (lone surrogates accepted), or npos on success.
std::size_t utf16FromUtf8(std::string_view text, std::vector<char16_t>& units);

}  // namespace zeph::plist

#endif  // ZEPH_PLIST_INTERNAL_BINARY_TEXT_H_
