#include "plist/internal/openstep_reader.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "plist/error.h"
#include "plist/internal/limits.h"
#include "plist/internal/text_utf.h"
#include "text/utf8.h"

// The platform's old-style grammar: dictionaries, arrays, hex data and
// strings, nothing else. Like the platform we only read it.

namespace zeph::plist {
namespace {

constexpr std::size_t kNone = std::string_view::npos;

// Octal escapes name a byte of the NeXTSTEP character set; this is its upper
// half (0x80…0xFF). 0xFE and 0xFF are unassigned and read as U+FFFD.
constexpr char16_t kNextStepHigh[128] = {
    0x00A0, 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C7,  // 0x80
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,  // 0x88
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D9,  // 0x90
    0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00B5, 0x00D7, 0x00F7,  // 0x98
    0x00A9, 0x00A1, 0x00A2, 0x00A3, 0x2044, 0x00A5, 0x0192, 0x00A7,  // 0xA0
    0x00A4, 0x0027, 0x201C, 0x00AB, 0x2039, 0x203A, 0xFB01, 0xFB02,  // 0xA8
    0x00AE, 0x2013, 0x2020, 0x2021, 0x00B7, 0x00A6, 0x00B6, 0x2022,  // 0xB0
    0x201A, 0x201E, 0x201D, 0x00BB, 0x2026, 0x2030, 0x00AC, 0x00BF,  // 0xB8
    0x00B9, 0x0060, 0x00B4, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9,  // 0xC0
    0x00A8, 0x00B2, 0x02DA, 0x00B8, 0x00B3, 0x02DD, 0x02DB, 0x02C7,  // 0xC8
    0x2014, 0x00B1, 0x00BC, 0x00BD, 0x00BE, 0x00E0, 0x00E1, 0x00E2,  // 0xD0
    0x00E3, 0x00E4, 0x00E5, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB,  // 0xD8
    0x00EC, 0x00C6, 0x00ED, 0x00AA, 0x00EE, 0x00EF, 0x00F0, 0x00F1,  // 0xE0
    0x0141, 0x00D8, 0x0152, 0x00BA, 0x00F2, 0x00F3, 0x00F4, 0x00F5,  // 0xE8
    0x00F6, 0x00E6, 0x00F9, 0x00FA, 0x00FB, 0x0131, 0x00FC, 0x00FD,  // 0xF0
    0x0142, 0x00F8, 0x0153, 0x00DF, 0x00FE, 0x00FF, 0xFFFD, 0xFFFD,  // 0xF8
};

bool isBareChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
         c == '/' || c == ':' || c == '.' || c == '-';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class OpenStepReader {
 public:
  explicit OpenStepReader(std::string_view text) : text_(text) {}

  Value readDocument() {
    skipSpace();
    if (atEnd()) return Value(Dictionary{});
    Value v = readObject();
    skipSpace();
    if (atEnd()) return v;
    if (!v.asString()) fail("junk after the property list");
    // A string followed by more text: the whole input is a strings file, a
    // dictionary body without braces.
    pos_ = 0;
    ++depth_;
    return Value(readDictBody(false));
  }

 private:
  [[noreturn]] void failAt(std::size_t at, const std::string& what) const {
    at = std::min(at, text_.size());
    auto line = 1 + std::count(text_.begin(), text_.begin() + static_cast<std::ptrdiff_t>(at), '\n');
    throw Error("old-style plist: line " + std::to_string(line) + ": " + what);
  }
  [[noreturn]] void fail(const std::string& what) const { failAt(pos_, what); }

  bool atEnd() const { return pos_ >= text_.size(); }
  char cur() const { return text_[pos_]; }

  // Length of the white space at `i`: 0x09–0x0D, space, U+2028 and U+2029.
  std::size_t spaceAt(std::size_t i) const {
    char c = text_[i];
    if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
    std::string_view s = text_.substr(i, 3);
    return s == "\xE2\x80\xA8" || s == "\xE2\x80\xA9" ? 3 : 0;
  }

  // White space and comments ("//" to the end of the line, "/* */" unnested).
  void skipSpace() {
    while (!atEnd()) {
      if (std::size_t n = spaceAt(pos_)) {
        pos_ += n;
      } else if (text_.substr(pos_, 2) == "//") {
        std::size_t end = text_.find_first_of("\n\r", pos_);
        pos_ = end == kNone ? text_.size() : end;
      } else if (text_.substr(pos_, 2) == "/*") {
        std::size_t end = text_.find("*/", pos_ + 2);
        if (end == kNone) fail("unterminated comment");
        pos_ = end + 2;
      } else {
        return;
      }
    }
  }

  void enter() {
    if (++depth_ > kMaxDepth) fail("too many nested arrays or dictionaries");
    ++pos_;
  }

  Value readObject() {
    char c = cur();
    switch (c) {
      case '{': {
        enter();
        Value v(readDictBody(true));
        --depth_;
        return v;
      }
      case '(': {
        enter();
        Value v = readArray();
        --depth_;
        return v;
      }
      case '<':
        return readData();
      default:
        if (auto s = readString()) return Value(std::move(*s));
    }
    char shown[16];
    if (static_cast<unsigned char>(c) >= 0x21 && static_cast<unsigned char>(c) < 0x7F) {
      std::snprintf(shown, sizeof shown, "'%c'", c);
    } else {
      std::snprintf(shown, sizeof shown, "0x%02X", static_cast<unsigned char>(c));
    }
    fail(std::string("unexpected character ") + shown);
  }

  Dictionary readDictBody(bool braces) {
    std::vector<Dictionary::Member> members;
    std::size_t start = pos_;
    for (;;) {
      skipSpace();
      if (atEnd()) {
        if (braces) failAt(start - 1, "unterminated dictionary");
        break;
      }
      if (braces && cur() == '}') {
        ++pos_;
        break;
      }
      auto key = readString();
      if (!key) fail("dictionary key is not a string");
      skipSpace();
      if (atEnd()) fail("missing ';' after dictionary key");
      if (cur() == ';') {
        ++pos_;
        members.emplace_back(*key, Value(*key));  // strings-file shorthand
        continue;
      }
      if (cur() != '=') fail("missing '=' after dictionary key");
      ++pos_;
      skipSpace();
      if (atEnd()) fail("missing dictionary value");
      Value v = readObject();
      skipSpace();
      if (atEnd() || cur() != ';') fail("missing ';' after dictionary value");
      ++pos_;
      members.emplace_back(std::move(*key), std::move(v));
    }
    return Dictionary::fromMembers(std::move(members), DuplicateKeys::KeepLast);
  }

  Value readArray() {
    std::size_t start = pos_ - 1;
    Array items;
    for (;;) {
      skipSpace();
      if (atEnd()) failAt(start, "unterminated array");
      if (cur() == ')') break;
      items.push_back(readObject());
      skipSpace();
      if (atEnd()) failAt(start, "unterminated array");
      if (cur() == ')') break;
      if (cur() != ',') fail("missing ',' between array items");
      ++pos_;
    }
    ++pos_;
    return Value(std::move(items));
  }

  // Hex digit pairs, white space allowed between pairs only.
  Value readData() {
    std::size_t start = pos_++;
    Data bytes;
    for (;;) {
      while (!atEnd() && spaceAt(pos_)) pos_ += spaceAt(pos_);
      if (atEnd()) failAt(start, "unterminated data");
      if (cur() == '>') break;
      int high = hexValue(cur());
      if (high < 0) fail("invalid character in data");
      ++pos_;
      int low = atEnd() ? -1 : hexValue(cur());
      if (low < 0) fail("odd number of hex digits in data");
      ++pos_;
      bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    ++pos_;
    return Value(std::move(bytes));
  }

  std::optional<std::string> readString() {
    char c = cur();
    if (c == '"' || c == '\'') return readQuoted(c);
    if (!isBareChar(c)) return std::nullopt;
    std::size_t start = pos_;
    while (!atEnd() && isBareChar(cur())) ++pos_;
    return std::string(text_.substr(start, pos_ - start));
  }

  std::string readQuoted(char quote) {
    std::size_t start = pos_++;
    std::string out;
    const char stops[] = {quote, '\\', '\0'};
    for (;;) {
      std::size_t stop = text_.find_first_of(stops, pos_);
      if (stop == kNone || (stop + 1 == text_.size() && text_[stop] == '\\'))
        failAt(start, "unterminated string");
      out.append(text_.substr(pos_, stop - pos_));
      pos_ = stop + 1;
      if (text_[stop] == quote) return out;
      readEscape(out);
    }
  }

  // After a backslash, with at least one character left.
  void readEscape(std::string& out) {
    char c = text_[pos_++];
    switch (c) {
      case 'a':
        out.push_back('\a');
        return;
      case 'b':
        out.push_back('\b');
        return;
      case 'f':
        out.push_back('\f');
        return;
      case 'n':
        out.push_back('\n');
        return;
      case 'r':
        out.push_back('\r');
        return;
      case 't':
        out.push_back('\t');
        return;
      case 'v':
        out.push_back('\v');
        return;
      case 'U': {
        std::uint32_t unit = readHexUnit();
        if (unit >= 0xD800 && unit <= 0xDBFF && text_.substr(pos_, 2) == "\\U") {
          std::size_t save = pos_;
          pos_ += 2;
          std::uint32_t low = readHexUnit();
          if (low >= 0xDC00 && low <= 0xDFFF) {
            appendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), out);
            return;
          }
          pos_ = save;
        }
        // A lone surrogate keeps its 3-byte form, as the binary codec does.
        appendUtf8(unit, out);
        return;
      }
      default:
        break;
    }
    if (c >= '0' && c <= '7') {
      unsigned byte = static_cast<unsigned>(c - '0');
      for (int k = 0; k < 2 && !atEnd() && cur() >= '0' && cur() <= '7'; ++k) {
        byte = byte * 8 + static_cast<unsigned>(cur() - '0');
        ++pos_;
      }
      byte &= 0xFF;
      appendUtf8(byte < 0x80 ? byte : kNextStepHigh[byte - 0x80], out);
      return;
    }
    // Any other escaped character stands for itself, whole if it is multibyte.
    std::size_t len = 1;
    while (pos_ - 1 + len < text_.size() &&
           (static_cast<unsigned char>(text_[pos_ - 1 + len]) & 0xC0) == 0x80)
      ++len;
    out.append(text_.substr(pos_ - 1, len));
    pos_ += len - 1;
  }

  // Up to four hex digits; none at all reads as 0.
  std::uint32_t readHexUnit() {
    std::uint32_t unit = 0;
    for (int k = 0; k < 4 && !atEnd() && hexValue(cur()) >= 0; ++k) {
      unit = unit * 16 + static_cast<std::uint32_t>(hexValue(cur()));
      ++pos_;
    }
    return unit;
  }

  std::string_view text_;
  std::size_t pos_ = 0;  // next byte to read
  unsigned depth_ = 0;   // arrays and dictionaries open around pos_
};

}  // namespace

Value readOpenStep(std::span<const std::uint8_t> bytes) {
  EncodingMark mark = detectEncoding(bytes);
  auto body = bytes.subspan(mark.markLength);
  std::string converted;
  std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());
  if (mark.encoding != TextEncoding::Utf8) {
    std::size_t bad = convertToUtf8(body, mark.encoding, converted);
    if (bad != kNone)
      throw Error("old-style plist: byte " + std::to_string(bad + mark.markLength) +
                  ": text is not valid UTF-16 or UTF-32");
    text = converted;
  }
  std::size_t bad = findInvalidUtf8(text);
  if (bad != kNone)
    throw Error("old-style plist: byte " + std::to_string(bad + mark.markLength) +
                ": text is not valid UTF-8");
  return OpenStepReader(text).readDocument();
}

}  // namespace zeph::plist
