#ifndef ZEPH_PLIST_INTERNAL_TEXT_BASE64_H_
#define ZEPH_PLIST_INTERNAL_TEXT_BASE64_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zeph::plist {

/// Base64 as XML property lists carry it: the platform's lenient decoding and
/// its line-wrapped encoding.

/// Decodes `text` into `out` the way the platform does: ASCII outside the
/// alphabet is skipped, each '=' counts as a zero digit and trims the bytes of
/// its quartet, an incomplete last quartet is dropped. Returns npos, or the
/// offset of a byte ≥ 0x80, which is an error.
std::size_t decodeBase64(std::string_view text, std::vector<std::uint8_t>& out);

/// The bytes encodeBase64Lines() writes for `dataSize` bytes.
std::size_t base64LinesSize(std::size_t dataSize, std::size_t lineLength, std::size_t indent);

/// Writes `data` in base64 with '=' padding to `out`, in lines of
/// `lineLength` characters (a multiple of 4), each line preceded by `indent`
/// tabs and followed by "\n"; returns the end of what it wrote. Data cut
/// after a whole line's worth of bytes may be encoded piece by piece.
std::uint8_t* encodeBase64Lines(std::span<const std::uint8_t> data, std::size_t lineLength,
                                std::size_t indent, std::uint8_t* out);

}  // namespace zeph::plist

#endif  // ZEPH_PLIST_INTERNAL_TEXT_BASE64_H_
