#ifndef ZEPH_TEXT_UTF8_H_
#define ZEPH_TEXT_UTF8_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zeph {

/// UTF-8 decoding and encoding, the one copy every layer uses. Decoding is
/// strict (overlong forms, truncated sequences, stray continuation bytes and
/// values above U+10FFFF are refused); surrogates follow a policy, because
/// the property-list codec keeps a lone UTF-16 surrogate as its 3-byte form
/// where everything else treats it as malformed.

enum class SurrogatePolicy {
  Refuse,  // ED A0..BF xx is malformed, as UTF-8 proper says
  Accept,  // ED A0..BF xx decodes to U+D800…U+DFFF
};

struct Utf8Sequence {
  char32_t codePoint = 0xFFFD;  // U+FFFD when malformed
  std::size_t length = 0;       // bytes of the sequence; 0 when malformed
};

/// The sequence starting at `text[at]` (`at` < size).
inline Utf8Sequence decodeUtf8(std::string_view text, std::size_t at,
                               SurrogatePolicy policy = SurrogatePolicy::Refuse) {
  auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[at + k]); };
  auto continues = [&](std::size_t k) { return at + k < text.size() && (byte(k) & 0xC0) == 0x80; };
  const char32_t lead = byte(0);
  if (lead < 0x80) return {lead, 1};
  if (lead >= 0xC2 && lead <= 0xDF && continues(1)) return {((lead & 0x1F) << 6) | (byte(1) & 0x3Fu), 2};
  if (lead >= 0xE0 && lead <= 0xEF && continues(1) && continues(2)) {
    char32_t c = ((lead & 0x0F) << 12) | ((byte(1) & 0x3Fu) << 6) | (byte(2) & 0x3Fu);
    if (c < 0x800) return {};                                                        // overlong
    if (c >= 0xD800 && c <= 0xDFFF && policy == SurrogatePolicy::Refuse) return {};  // surrogate
    return {c, 3};
  }
  if (lead >= 0xF0 && lead <= 0xF4 && continues(1) && continues(2) && continues(3)) {
    char32_t c =
        ((lead & 0x07) << 18) | ((byte(1) & 0x3Fu) << 12) | ((byte(2) & 0x3Fu) << 6) | (byte(3) & 0x3Fu);
    if (c < 0x10000 || c > 0x10FFFF) return {};  // overlong, or past Unicode
    return {c, 4};
  }
  return {};
}

/// Offset of the first byte that does not start a well-formed sequence, or
/// npos when all of `text` is well-formed.
std::size_t findInvalidUtf8(std::string_view text, SurrogatePolicy policy = SurrogatePolicy::Refuse);

/// Appends `codePoint` (at most U+10FFFF) as UTF-8; a surrogate gets its
/// 3-byte form.
void appendUtf8(char32_t codePoint, std::string& out);

/// The code points of `text`, for showing and editing it: each byte that does
/// not start a well-formed sequence becomes one U+FFFD.
std::u32string decodeUtf8Lossy(std::string_view text);

/// `codePoints` as UTF-8.
std::string encodeUtf8(std::u32string_view codePoints);

}  // namespace zeph

#endif  // ZEPH_TEXT_UTF8_H_
