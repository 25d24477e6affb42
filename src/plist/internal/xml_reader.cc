#include "plist/internal/xml_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "plist/error.h"
#include "plist/internal/arena.h"
#include "plist/internal/limits.h"
#include "plist/internal/text_base64.h"
#include "plist/internal/text_utf.h"
#include "text/c_locale_number.h"
#include "text/calendar_time.h"
#include "text/utf8.h"

// What this reader accepts follows the platform's hand-written parser, not
// XML 1.0: no entity definitions, no line-end normalisation, and everything
// after the first element is ignored, as the platform's reader documents.

namespace zeph::plist {
namespace {

constexpr std::size_t kNone = std::string_view::npos;

enum class Tag { Plist, Array, Dict, Key, String, Data, Date, Real, Integer, True, False };

constexpr std::pair<std::string_view, Tag> kTags[] = {
    {"plist", Tag::Plist},     {"array", Tag::Array}, {"dict", Tag::Dict},   {"key", Tag::Key},
    {"string", Tag::String},   {"data", Tag::Data},   {"date", Tag::Date},   {"real", Tag::Real},
    {"integer", Tag::Integer}, {"true", Tag::True},   {"false", Tag::False},
};

struct OpenTag {
  Tag tag;
  std::string_view name;
  bool empty;         // written as <name/>
  std::size_t start;  // offset of its '<'
};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// A piece of the document as messages quote it: cut() then endQuote().
// The cut falls between UTF-8 characters.
constexpr std::size_t kQuoted = 40;
std::string_view cut(std::string_view s) {
  if (s.size() <= kQuoted) return s;
  std::size_t n = kQuoted;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return s.substr(0, n);
}

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
std::string_view endQuote(std::string_view s) { return s.size() > kQuoted ? "…\"" : "\""; }

// Leading white space of <integer> text as the platform skips it: bytes below
// 0x21 and 0x7F…0xA0, and the UTF-8 forms of U+2000…U+200B, U+202F, U+205F
// and U+3000. Returns the offset after it.
std::size_t skipNumberSpace(std::string_view s, std::size_t i) {
  auto byte = [&](std::size_t k) { return k < s.size() ? static_cast<unsigned char>(s[k]) : 0u; };
  while (i < s.size()) {
    unsigned b = byte(i);
    if (b < 0x21 || (b >= 0x7F && b <= 0xA0)) {
      ++i;
    } else if (b == 0xE2 && byte(i + 1) == 0x80 &&
               ((byte(i + 2) >= 0x80 && byte(i + 2) <= 0x8B) || byte(i + 2) == 0xAF)) {
      i += 3;
    } else if (b == 0xE2 && byte(i + 1) == 0x81 && byte(i + 2) == 0x9F) {
      i += 3;
    } else if (b == 0xE3 && byte(i + 1) == 0x80 && byte(i + 2) == 0x80) {
      i += 3;
    } else {
      break;
    }
  }
  return i;
}

// <real> text: the platform's special names (any case), else a number that
// strtod reads whole from the characters [0-9+-.eE] after leading space.
std::optional<double> parseRealText(std::string_view text) {
  std::string lower(text.substr(0, 10));
  std::transform(lower.begin(), lower.end(), lower.begin(), asciiLower);
  if (text.size() <= 10) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    if (lower == "nan") return std::numeric_limits<double>::quiet_NaN();
    if (lower == "inf" || lower == "+inf" || lower == "infinity" || lower == "+infinity") return kInf;
    if (lower == "-inf" || lower == "-infinity") return -kInf;
  }
  std::string_view number = text.substr(skipNumberSpace(text, 0));
  if (number.empty() || number.find_first_not_of("0123456789+-.eE") != std::string_view::npos)
    return std::nullopt;
  return wholeNumberInCLocale(number);
}

class XmlReader {
 public:
  explicit XmlReader(std::string_view text)
      : text_(text), arena_(detail::Arena::open(arenaEstimate(text), text.size())) {}

  Value readDocument() {
    skipProlog();
    OpenTag root = readOpenTag();
    if (root.tag != Tag::Plist) return readObject(root);
    if (root.empty) failAt(root.start, {"<plist/> holds no object"});
    skipMisc();
    if (startsWith("</")) failAt(root.start, {"<plist> holds no object"});
    Value v = readObject(readOpenTag());
    skipMisc();
    if (!atEnd() && !startsWith("</")) fail({"<plist> holds more than one object"});
    expectClose("plist");
    return v;  // anything after the root element is ignored
  }

 private:
  // Messages are put together here, out of line, so that the recursive
  // functions keep small stack frames (deep documents, sanitizer builds).
  [[noreturn, gnu::noinline]] void failAt(std::size_t at,
                                          std::initializer_list<std::string_view> what) const {
    at = std::min(at, text_.size());
    auto line = 1 + std::count(text_.begin(), text_.begin() + static_cast<std::ptrdiff_t>(at), '\n');
    std::string message = "XML plist: line " + std::to_string(line) + ": ";
    for (std::string_view piece : what) message += piece;
    throw Error(message);
  }
  [[noreturn]] void fail(std::initializer_list<std::string_view> what) const { failAt(pos_, what); }

  bool startsWith(std::string_view s) const { return text_.substr(pos_).starts_with(s); }
  bool atEnd() const { return pos_ >= text_.size(); }

  void skipSpace() {
    while (pos_ < text_.size() && isSpace(text_[pos_])) ++pos_;
  }

  // Moves past the next `terminator` after `from`; fails when there is none.
  void skipPast(std::size_t from, std::string_view terminator, const char* what) {
    std::size_t end = from <= text_.size() ? text_.find(terminator, from) : kNone;
    if (end == kNone) fail({"unterminated ", what});
    pos_ = end + terminator.size();
  }

  // White space, comments and processing instructions before the root. The
  // platform looks for a comment's end one character late, so "<!---->" here
  // runs on; kept so both readers agree on where comments end.
  void skipProlog() {
    for (;;) {
      skipSpace();
      if (atEnd()) fail({"no root element"});
      if (text_[pos_] != '<') fail({"text before the root element"});
      if (startsWith("<?")) {
        skipPast(pos_ + 2, "?>", "processing instruction");
      } else if (startsWith("<!--")) {
        skipPast(pos_ + 5, "-->", "comment");
      } else if (startsWith("<!DOCTYPE")) {
        std::size_t end = text_.find_first_of("[>", pos_);
        if (end == kNone) fail({"unterminated DOCTYPE"});
        if (text_[end] == '[') failAt(end, {"DOCTYPE internal subsets are not supported"});
        pos_ = end + 1;
      } else if (startsWith("<!")) {
        fail({"unexpected <! before the root element"});
      } else {
        return;
      }
    }
  }

  // White space, comments and processing instructions between elements.
  void skipMisc() {
    for (;;) {
      skipSpace();
      if (startsWith("<!--")) {
        skipPast(pos_ + 4, "-->", "comment");
      } else if (startsWith("<?")) {
        skipPast(pos_ + 2, "?>", "processing instruction");
      } else {
        return;
      }
    }
  }

  OpenTag readOpenTag() {
    if (atEnd()) fail({"unexpected end of document"});
    if (text_[pos_] != '<') {
      std::string_view text = text_.substr(pos_, text_.find('<', pos_) - pos_);
      fail({"unexpected text \"", cut(text), endQuote(text)});
    }
    if (startsWith("<!")) fail({"unexpected <! markup"});
    std::size_t start = pos_;
    std::size_t nameEnd = pos_ + 1;
    while (nameEnd < text_.size() && !isSpace(text_[nameEnd]) && text_[nameEnd] != '/' &&
           text_[nameEnd] != '>')
      ++nameEnd;
    std::string_view name = text_.substr(pos_ + 1, nameEnd - pos_ - 1);
    std::size_t close = text_.find('>', nameEnd);
    if (close == kNone) fail({"unterminated tag <", cut(name)});
    auto it =
        std::find_if(std::begin(kTags), std::end(kTags), [&](const auto& t) { return t.first == name; });
    if (it == std::end(kTags)) fail({"unknown tag <", cut(name), ">"});
    pos_ = close + 1;
    return {it->second, name, close > nameEnd && text_[close - 1] == '/', start};
  }

  // Expects "</name>" (white space allowed before the '>') and moves past it.
  void expectClose(std::string_view name) {
    if (!startsWith("</") || text_.substr(pos_ + 2, name.size()) != name) {
      fail({"expected </", name, ">"});
    }
    std::size_t i = pos_ + 2 + name.size();
    while (i < text_.size() && isSpace(text_[i])) ++i;
    if (i >= text_.size() || text_[i] != '>') fail({"expected </", name, ">"});
    pos_ = i + 1;
  }

  // Raw text up to the next '<', as <integer>, <date> and <data> take it.
  std::string_view rawText() {
    std::size_t end = text_.find('<', pos_);
    if (end == kNone) fail({"unterminated element"});
    std::string_view s = text_.substr(pos_, end - pos_);
    return s;
  }

  Value readObject(const OpenTag& open) {
    switch (open.tag) {
      case Tag::Plist:
        failAt(open.start, {"<plist> inside another element"});
      case Tag::Dict:
        return open.empty ? Value::fromMembers({}, DuplicateKeys::KeepLast, arena_.get()) : readDict(open);
      case Tag::Array:
        return open.empty ? Value(Array{}, arena_.get()) : readArray(open);
      default:
        return readScalar(open);
    }
  }

  // Out of line: only containers recurse, and their frames stay small.
  [[gnu::noinline]] Value readScalar(const OpenTag& open) {
    switch (open.tag) {
      case Tag::Key:
      case Tag::String:
        return Value(open.empty ? std::string() : readText(open.name), arena_.get());
      case Tag::True:
      case Tag::False:
        if (!open.empty) {
          skipSpace();
          expectClose(open.name);
        }
        return Value::boolean(open.tag == Tag::True);
      default:
        break;
    }
    if (open.empty) failAt(open.start, {"empty <", open.name, "/>"});
    if (open.tag == Tag::Real) return readReal(open);
    std::size_t start = pos_;
    std::string_view raw = rawText();
    Value v = open.tag == Tag::Integer ? Value(parseInteger(raw, start))
              : open.tag == Tag::Date  ? Value(parseDate(raw, start))
                                       : Value(parseData(raw, start), arena_.get());
    pos_ += raw.size();
    expectClose(open.name);
    return v;
  }

  void enter(const OpenTag& open) {
    if (++depth_ > kMaxDepth) failAt(open.start, {"too many nested arrays or dictionaries"});
  }

  [[gnu::noinline]] Value readArray(const OpenTag& open) {
    enter(open);
    const std::size_t base = pendingItems_.size();
    for (;;) {
      skipMisc();
      if (atEnd()) failAt(open.start, {"unterminated <array>"});
      if (startsWith("</")) break;
      Value item = readObject(readOpenTag());
      pendingItems_.push_back(std::move(item));
    }
    expectClose("array");
    --depth_;
    auto first = pendingItems_.begin() + static_cast<std::ptrdiff_t>(base);
    Array items(std::make_move_iterator(first), std::make_move_iterator(pendingItems_.end()));
    pendingItems_.erase(first, pendingItems_.end());
    return Value(std::move(items), arena_.get());
  }

  [[gnu::noinline]] Value readDict(const OpenTag& open) {
    enter(open);
    const std::size_t base = pendingMembers_.size();
    for (;;) {
      skipMisc();
      if (atEnd()) failAt(open.start, {"unterminated <dict>"});
      if (startsWith("</")) break;
      OpenTag keyTag = readOpenTag();
      if (keyTag.tag != Tag::Key) failAt(keyTag.start, {"expected <key>, found <", keyTag.name, ">"});
      std::string key = keyTag.empty ? std::string() : readText(keyTag.name);
      skipMisc();
      if (atEnd() || startsWith("</"))
        failAt(keyTag.start, {"key \"", cut(key), endQuote(key), " has no value"});
      Value value = readObject(readOpenTag());
      pendingMembers_.emplace_back(std::move(key), std::move(value));
    }
    expectClose("dict");
    --depth_;
    std::span<Dictionary::Member> members = std::span(pendingMembers_).subspan(base);
    std::optional<Uid> uid;
    if (members.size() == 1 && members[0].first == "CF$UID") uid = uidOf(members[0].second);
    Value d = uid ? Value(*uid) : Value::fromMembers(members, DuplicateKeys::KeepLast, arena_.get());
    pendingMembers_.erase(pendingMembers_.begin() + static_cast<std::ptrdiff_t>(base), pendingMembers_.end());
    return d;
  }

  // The platform takes any number under "CF$UID" as a 32-bit reference.
  // Numbers that do not fit stay an ordinary dictionary rather than being
  // cut down to some other reference.
  static std::optional<Uid> uidOf(const Value& v) {
    if (std::optional<Integer> i = v.asInteger()) {
      if (!i->negative && i->bits <= 0xFFFF'FFFFull) return Uid{i->bits};
    } else if (const double* r = v.asReal()) {
      if (*r >= 0 && *r <= 4294967295.0 && std::floor(*r) == *r) return Uid{static_cast<std::uint64_t>(*r)};
    }
    return std::nullopt;
  }

  // Text of <string>, <key> and <real>: entities, character references and
  // CDATA sections; no other markup. Kept exactly, line ends included.
  std::string readText(std::string_view name) {
    std::string out;
    for (;;) {
      std::size_t stop = text_.find_first_of("<&", pos_);
      if (stop == kNone) fail({"unterminated <", name, ">"});
      appendChecked(text_.substr(pos_, stop - pos_), pos_, out);
      pos_ = stop;
      if (text_[stop] == '&') {
        readReference(out);
      } else if (startsWith("<![CDATA[")) {
        std::size_t end = text_.find("]]>", pos_ + 9);
        if (end == kNone) fail({"unterminated CDATA section"});
        appendChecked(text_.substr(pos_ + 9, end - pos_ - 9), pos_ + 9, out);
        pos_ = end + 3;
      } else if (startsWith("</")) {
        expectClose(name);
        return out;
      } else {
        fail({"unexpected markup inside <", name, ">"});
      }
    }
  }

  void appendChecked(std::string_view raw, std::size_t at, std::string& out) const {
    std::size_t bad = findInvalidUtf8(raw);
    if (bad != kNone) failAt(at + bad, {"text is not valid UTF-8"});
    out.append(raw);
  }

  // At '&': one of the five predefined entities or a character reference.
  void readReference(std::string& out) {
    // "&#x" and eight digits is the longest reference the platform reads;
    // looking no further keeps a run of bare '&'s linear.
    std::size_t semi = text_.substr(pos_, 13).find(';');
    if (semi == kNone) fail({"unterminated entity reference"});
    semi += pos_;
    std::string_view name = text_.substr(pos_ + 1, semi - pos_ - 1);
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
    for (const auto& [entity, c] : kEntities) {
      if (name == entity) {
        out.push_back(c);
        pos_ = semi + 1;
        return;
      }
    }
    if (!name.starts_with('#')) fail({"unknown entity &", name, ";"});
    bool hex = name.size() > 1 && name[1] == 'x';
    std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 8) fail({"malformed character reference &", name, ";"});
    std::uint32_t cp = 0;
    for (char c : digits) {
      int d;
      if (c >= '0' && c <= '9') {
        d = c - '0';
      } else if (hex && c >= 'a' && c <= 'f') {
        d = c - 'a' + 10;
      } else if (hex && c >= 'A' && c <= 'F') {
        d = c - 'A' + 10;
      } else {
        fail({"malformed character reference &", name, ";"});
      }
      cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
    }
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      fail({"character reference &", name, "; is not a Unicode character"});
    }
    appendUtf8(cp, out);
    pos_ = semi + 1;
  }

  Integer parseInteger(std::string_view s, std::size_t at) const {
    std::size_t i = skipNumberSpace(s, 0);
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
      negative = s[i] == '-';
      i = skipNumberSpace(s, i + 1);
    }
    unsigned base = 10;
    if (s.substr(i, 2) == "0x" || s.substr(i, 2) == "0X") {
      base = 16;
      i += 2;
    }
    if (i == s.size()) failAt(at, {"invalid <integer> \"", cut(s), endQuote(s)});
    std::uint64_t magnitude = 0;
    bool overflow = false;
    for (; i < s.size(); ++i) {
      char c = s[i];
      unsigned d;
      if (c >= '0' && c <= '9') {
        d = static_cast<unsigned>(c - '0');
      } else if (base == 16 && c >= 'a' && c <= 'f') {
        d = static_cast<unsigned>(c - 'a' + 10);
      } else if (base == 16 && c >= 'A' && c <= 'F') {
        d = static_cast<unsigned>(c - 'A' + 10);
      } else {
        failAt(at, {"invalid <integer> \"", cut(s), endQuote(s)});
      }
      if (magnitude > (std::numeric_limits<std::uint64_t>::max() - d) / base) overflow = true;
      magnitude = magnitude * base + d;
    }
    constexpr std::uint64_t kMinMagnitude = 0x8000'0000'0000'0000ull;  // of −2^63
    if (overflow || (negative && magnitude > kMinMagnitude)) {
      failAt(at, {"<integer> \"", cut(s), endQuote(s), " is out of range"});
    }
    if (!negative) return Integer::ofUnsigned(magnitude);
    return magnitude == 0 ? Integer::of(0) : Integer{~magnitude + 1, true};
  }

  Value readReal(const OpenTag& open) {
    std::size_t start = pos_;
    std::string text = readText(open.name);
    std::optional<double> r = parseRealText(text);
    if (!r) failAt(start, {"invalid <real> \"", cut(text), endQuote(text)});
    return Value::real(*r);
  }

  // Optional '-', year digits, then exactly "-MM-DDTHH:MM:SSZ".
  Date parseDate(std::string_view s, std::size_t at) const {
    auto bad = [&]() { failAt(at, {"invalid <date> \"", cut(s), endQuote(s)}); };
    std::size_t i = 0;
    bool negative = i < s.size() && s[i] == '-';
    if (negative) ++i;
    std::int64_t year = 0;
    std::size_t yearStart = i;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
      year = year * 10 + (s[i] - '0');
      if (year > kMaxCalendarYear) failAt(at, {"<date> \"", cut(s), endQuote(s), " has a year out of range"});
    }
    if (i == yearStart) bad();
    std::string_view rest = s.substr(i);
    constexpr std::string_view kShape = "-00-00T00:00:00Z";
    if (rest.size() != kShape.size()) bad();
    int fields[5];
    for (std::size_t k = 0; k < kShape.size(); ++k) {
      bool digitSlot = kShape[k] == '0';
      if (digitSlot ? !(rest[k] >= '0' && rest[k] <= '9') : rest[k] != kShape[k]) bad();
    }
    for (int f = 0; f < 5; ++f) {
      std::size_t k = 1 + 3 * static_cast<std::size_t>(f);
      fields[f] = (rest[k] - '0') * 10 + (rest[k + 1] - '0');
    }
    int second = (rest[13] - '0') * 10 + (rest[14] - '0');
    CalendarTime t{negative ? -year : year, fields[0], fields[1], fields[2], fields[3], second};
    return Date{secondsFromCalendar(t)};
  }

  Data parseData(std::string_view s, std::size_t at) const {
    Data out;
    std::size_t bad = decodeBase64(s, out);
    if (bad != kNone) failAt(at + bad, {"<data> holds a byte that is not base64"});
    return out;
  }

  std::string_view text_;
  std::size_t pos_ = 0;  // next byte to read
  unsigned depth_ = 0;   // arrays and dictionaries open around pos_
  // Items and members of the containers being read, innermost last: one
  // buffer for them all instead of one growing buffer per container.
  std::vector<Value> pendingItems_;
  std::vector<Dictionary::Member> pendingMembers_;
  detail::Arena::Handle arena_;  // where the document's objects go

  // What the document's objects take in the arena, from its count of tags:
  // an element has two, and takes about a string's box, as does a member
  // under its <key>. Only a guess (<dict/> takes more, numbers nothing), but
  // XML holds no counts, and the arena grows past it as needed.
  static std::size_t arenaEstimate(std::string_view text) {
    const auto tags = static_cast<std::size_t>(std::count(text.begin(), text.end(), '<'));
    return tags / 2 * detail::Arena::footprint(Kind::String);
  }
};

// Turns the document into UTF-8 text: byte-order marks, UTF-16 guessed from
// NUL bytes, and the encoding the XML declaration names.
std::string_view documentText(std::span<const std::uint8_t> bytes, std::string& converted) {
  EncodingMark mark = detectEncoding(bytes);
  auto body = bytes.subspan(mark.markLength);
  if (mark.encoding != TextEncoding::Utf8) {
    std::size_t bad = convertToUtf8(body, mark.encoding, converted);
    if (bad != kNone)
      throw Error("XML plist: byte " + std::to_string(bad + mark.markLength) +
                  ": text is not valid UTF-16 or UTF-32");
    return converted;
  }
  std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());
  if (mark.marked || !text.starts_with("<?xml")) return text;
  // The declaration's "encoding=" (no spaces, as the platform looks for it)
  // before its first '?' or '>'.
  std::size_t declEnd = text.find_first_of("?>", 5);
  std::string_view decl = text.substr(0, declEnd);
  std::size_t at = decl.find("encoding=");
  if (at == kNone || at + 9 >= decl.size()) return text;
  char quote = decl[at + 9];
  std::size_t nameEnd = decl.find(quote, at + 10);
  if ((quote != '"' && quote != '\'') || nameEnd == kNone) return text;
  std::string name(decl.substr(at + 10, nameEnd - at - 10));
  std::transform(name.begin(), name.end(), name.begin(), asciiLower);
  if (name == "utf-8" || name == "utf8") return text;
  if (name == "us-ascii" || name == "ascii") {
    auto high =
        std::find_if(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (high != text.end())
      throw Error("XML plist: byte " + std::to_string(high - text.begin()) + ": not US-ASCII");
    return text;
  }
  if (name == "iso-8859-1" || name == "latin1" || name == "iso_8859-1" || name == "l1") {
    converted.reserve(text.size());
    for (char c : text) appendUtf8(static_cast<unsigned char>(c), converted);
    return converted;
  }
  throw Error("XML plist: unsupported encoding \"" + name.substr(0, 40) + "\"");
}

}  // namespace

Value readXml(std::span<const std::uint8_t> bytes) {
  std::string converted;
  std::string_view text = documentText(bytes, converted);
  return XmlReader(text).readDocument();
}

}  // namespace zeph::plist
