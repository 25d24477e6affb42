#ifndef ZEPH_TEXT_PERCENT_ENCODING_H_
#define ZEPH_TEXT_PERCENT_ENCODING_H_

#include <optional>
#include <string>
#include <string_view>

namespace zeph {

/// Which bytes percentEncode() leaves as they are; every other byte becomes
/// "%XX" with upper-case hex digits.
enum class KeptCharacters {
  Unreserved,  // RFC 3986 unreserved: A–Z a–z 0–9 - . _ ~ (a query value)
  UrlPath,     // unreserved, sub-delims, ":", "@" and "/" (the path of a file URL)
};

std::string percentEncode(std::string_view text, KeptCharacters kept);

/// `text` with every "%XX" turned back into its byte; nullopt when a "%" is
/// not followed by two hex digits.
std::optional<std::string> percentDecode(std::string_view text);

}  // namespace zeph

#endif  // ZEPH_TEXT_PERCENT_ENCODING_H_
