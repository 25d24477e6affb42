#ifndef ZEPH_PLIST_INTERNAL_TEXT_BASE64_H_
#define ZEPH_PLIST_INTERNAL_TEXT_BASE64_H_

#include <cstddef>
#include <cstdint>
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

/// Appends `data` in base64 with '=' padding, in lines of `lineLength`
/// characters (a multiple of 4), each line preceded by `indent` tabs and
/// followed by "\n".
void appendBase64Lines(const std::vector<std::uint8_t>& data, std::size_t lineLength, std::size_t indent,
                       std::vector<std::uint8_t>& out);

}  // namespace zeph::plist

#endif  // ZEPH_PLIST_INTERNAL_TEXT_BASE64_H_
