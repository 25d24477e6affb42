#include "plist/internal/xml_writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "plist/error.h"
#include "plist/internal/limits.h"
#include "plist/internal/text_base64.h"
#include "plist/internal/text_utf.h"
#include "text/c_locale_number.h"
#include "text/calendar_time.h"
#include "text/utf8.h"

// The platform's layout: its header, one tab per level, "\n" line ends, keys
// in UTF-16 order. A first pass over the document finds everything that
// cannot be written, so a refused document writes nothing; the second writes
// it through a buffer of fixed size, as stores run to tens of megabytes and
// the memory a process touches is what it mostly pays for.

namespace zeph::plist {
namespace {

constexpr std::string_view kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

// Whether the byte order of these keys can differ from their UTF-16 order:
// only code points from U+E000 up (lead bytes 0xEE and above) sort otherwise.
bool needsUtf16Sort(const Dictionary& d) {
  return std::any_of(d.begin(), d.end(), [](const Dictionary::Member& m) {
    return std::any_of(m.first.begin(), m.first.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0xEE; });
  });
}

// The text on its way to the sink, a buffer's worth at a time. The general
// appends are out of line, so the writer's recursive functions do not each
// carry them in their frames.
class Output {
 public:
  explicit Output(const ByteSink& sink) : sink_(sink) {}
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  [[gnu::noinline]] void append(std::string_view s) {
    if (s.size() > room()) {
      flush();
      if (s.size() > kPiece)
        return sink_(std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
    }
    cursor_ = std::copy(s.begin(), s.end(), cursor_);
  }
  // A literal: copied in place, its length known when compiled.
  template <std::size_t N>
  void append(const char (&literal)[N]) {
    if (N - 1 > room()) flush();
    std::memcpy(cursor_, literal, N - 1);
    cursor_ += N - 1;
  }
  void append(const char* first, const char* last) {
    append(std::string_view(first, static_cast<std::size_t>(last - first)));
  }
  // `count` is an indent: at most kMaxDepth, well under a piece.
  [[gnu::noinline]] void append(std::size_t count, char c) {
    if (count > room()) flush();
    cursor_ = std::fill_n(cursor_, count, static_cast<std::uint8_t>(c));
  }
  // Where up to `size` bytes (at most kPiece) go next; finished by commit().
  std::uint8_t* reserve(std::size_t size) {
    if (size > room()) flush();
    return cursor_;
  }
  void commit(std::uint8_t* end) { cursor_ = end; }
  void flush() {
    if (cursor_ != buffer_.get()) sink_(std::span<const std::uint8_t>(buffer_.get(), cursor_));
    cursor_ = buffer_.get();
  }

  static constexpr std::size_t kPiece = std::size_t{64} << 10;

 private:
  std::size_t room() const { return static_cast<std::size_t>(limit_ - cursor_); }

  const ByteSink& sink_;
  // Not zeroed: every byte is written before it is passed on.
  std::unique_ptr<std::uint8_t[]> buffer_{new std::uint8_t[kPiece]};
  std::uint8_t* cursor_ = buffer_.get();
  std::uint8_t* limit_ = buffer_.get() + kPiece;
};

// Output beyond this is refused: values from binary documents may share
// objects, and a small file that nests shared arrays 40 deep would spell out
// 2^40 elements here.
constexpr std::size_t kMaxOutput = std::size_t{1} << 30;

// Characters of a base64 line at `indent`: 76 at the top, 8 fewer a level.
std::size_t base64LineLength(std::size_t indent) { return 76 - 8 * std::min<std::size_t>(indent, 8); }

// XML text cannot carry bytes that are not UTF-8, nor the lone surrogates
// the binary format may hold; both are refused rather than mangled.
[[noreturn, gnu::noinline]] void refuseText(std::string_view s, std::size_t bad) {
  if (findEncodedSurrogate(s) == bad) {
    throw Error("XML plist: string \"" + std::string(s.substr(0, bad)) +
                "…\" holds a lone UTF-16 surrogate, which XML cannot carry");
  }
  throw Error("XML plist: string at byte " + std::to_string(bad) + " is not valid UTF-8");
}

void checkText(std::string_view s) {
  std::size_t bad = findInvalidUtf8(s);
  if (bad != std::string_view::npos) refuseText(s, bad);
}

// Readers take "CF$UID" as 32 bits; a larger one would come back as an
// ordinary dictionary.
void checkUid(Uid uid) {
  if (uid.value > 0xFFFF'FFFFull) {
    throw Error("XML plist: UID " + std::to_string(uid.value) + " does not fit the 32 bits XML readers take");
  }
}

void checkDepth(std::size_t indent) {
  if (indent >= kMaxDepth) throw Error("XML plist: arrays and dictionaries nested too deeply to write");
}

[[noreturn]] void refuseDate(Date d) {
  throw Error("XML plist: date " + std::to_string(d.secondsSince2001) + " s has no calendar form");
}

// The first pass: throws for whatever the writer cannot write, and adds
// roughly the bytes writing `v` at `indent` takes to `total`, so that output
// held whole is sized once. Stops early, returning false, past kMaxOutput.
bool measure(const Value& v, std::size_t indent, std::size_t& total) {
  if (total > kMaxOutput) return false;
  if (const Dictionary* d = v.asDictionary()) {
    if (d->empty()) {
      total += indent + 8;
      return true;
    }
    checkDepth(indent);
    total += 2 * indent + 16;
    for (const auto& [key, item] : *d) {
      checkText(key);
      total += indent + 13 + key.size();
      if (!measure(item, indent + 1, total)) return false;
    }
  } else if (const Array* a = v.asArray()) {
    if (a->empty()) {
      total += indent + 9;
      return true;
    }
    checkDepth(indent);
    total += 2 * indent + 18;
    for (const auto& item : *a) {
      if (!measure(item, indent + 1, total)) return false;
    }
  } else if (const std::string* s = v.asString()) {
    checkText(*s);
    total += indent + 18 + s->size();
  } else if (const Data* data = v.asData()) {
    total += 2 * indent + 16 + base64LinesSize(data->size(), base64LineLength(indent), indent);
  } else {
    if (const Uid* uid = v.asUid()) checkUid(*uid);
    if (const Date* date = v.asDate(); date && !calendarFromSeconds(date->secondsSince2001))
      refuseDate(*date);
    total += 3 * indent + 64;  // numbers, dates, booleans, references
  }
  return total <= kMaxOutput;
}

// The document's size, roughly, once measure() finds nothing it cannot write.
std::size_t checkedSize(const Value& root) {
  std::size_t size = kHeader.size() + 9;
  if (!measure(root, 0, size)) throw Error("XML plist: the document would be larger than 1 GiB");
  return size;
}

// The second pass, over a document checkedSize() has passed.
class XmlWriter {
 public:
  explicit XmlWriter(const ByteSink& sink) : out_(sink) {}

  void finish(const Value& root) {
    out_.append(kHeader);
    write(root, 0);
    out_.append("</plist>\n");
    out_.flush();
  }

 private:
  void tabs(std::size_t n) { out_.append(n, '\t'); }

  void write(const Value& v, std::size_t indent) {
    tabs(indent);
    if (const Dictionary* d = v.asDictionary()) {
      writeDict(*d, indent);
    } else if (const Array* a = v.asArray()) {
      writeArray(*a, indent);
    } else {
      writeScalar(v, indent);
    }
  }

  // Out of line: only containers recurse, and their frames stay small.
  [[gnu::noinline]] void writeScalar(const Value& v, std::size_t indent) {
    switch (v.kind()) {
      case Kind::Dictionary:
      case Kind::Array:
        return;
      case Kind::String:
        out_.append("<string>");
        appendEscaped(*v.asString());
        out_.append("</string>\n");
        return;
      case Kind::Data:
        writeData(*v.asData(), indent);
        return;
      case Kind::Date:
        writeDate(*v.asDate());
        return;
      case Kind::Integer:
        out_.append("<integer>");
        appendInteger(*v.asInteger());
        out_.append("</integer>\n");
        return;
      case Kind::Real:
        out_.append("<real>");
        appendReal(*v.asReal());
        out_.append("</real>\n");
        return;
      case Kind::Boolean:
        out_.append(*v.asBoolean() ? "<true/>\n" : "<false/>\n");
        return;
      case Kind::Uid:
        out_.append("<dict>\n");
        tabs(indent + 1);
        out_.append("<key>CF$UID</key>\n");
        tabs(indent + 1);
        out_.append("<integer>");
        appendInteger(Integer::ofUnsigned(v.asUid()->value));
        out_.append("</integer>\n");
        tabs(indent);
        out_.append("</dict>\n");
        return;
    }
  }

  [[gnu::noinline]] void writeDict(const Dictionary& d, std::size_t indent) {
    if (d.empty()) {
      out_.append("<dict/>\n");
      return;
    }
    out_.append("<dict>\n");
    if (needsUtf16Sort(d)) {
      for (const auto* m : inUtf16Order(d)) writeMember(*m, indent + 1);
    } else {
      for (const auto& m : d) writeMember(m, indent + 1);
    }
    tabs(indent);
    out_.append("</dict>\n");
  }

  void writeMember(const Dictionary::Member& m, std::size_t indent) {
    tabs(indent);
    out_.append("<key>");
    appendEscaped(m.first);
    out_.append("</key>\n");
    write(m.second, indent);
  }

  [[gnu::noinline]] static std::vector<const Dictionary::Member*> inUtf16Order(const Dictionary& d) {
    std::vector<const Dictionary::Member*> sorted;
    for (const auto& m : d) sorted.push_back(&m);
    std::sort(sorted.begin(), sorted.end(),
              [](const auto* a, const auto* b) { return lessInUtf16Order(a->first, b->first); });
    return sorted;
  }

  [[gnu::noinline]] void writeArray(const Array& a, std::size_t indent) {
    if (a.empty()) {
      out_.append("<array/>\n");
      return;
    }
    out_.append("<array>\n");
    for (const auto& item : a) write(item, indent + 1);
    tabs(indent);
    out_.append("</array>\n");
  }

  // Whole lines at a time, so that any size of data fits the buffer.
  void writeData(const Data& data, std::size_t indent) {
    out_.append("<data>\n");
    const std::size_t lineLength = base64LineLength(indent);
    const std::size_t lines = Output::kPiece / 2 / (lineLength + indent + 1);
    const std::size_t slice = lines * (lineLength / 4 * 3);
    for (std::size_t at = 0; at < data.size(); at += slice) {
      const auto piece = std::span(data).subspan(at, std::min(slice, data.size() - at));
      out_.commit(encodeBase64Lines(piece, lineLength, indent,
                                    out_.reserve(base64LinesSize(piece.size(), lineLength, indent))));
    }
    tabs(indent);
    out_.append("</data>\n");
  }

  [[gnu::noinline]] void writeDate(Date d) {
    auto t = calendarFromSeconds(d.secondsSince2001);
    if (!t) refuseDate(d);
    out_.append("<date>");
    out_.append(formatCalendarTime(*t));
    out_.append("</date>\n");
  }

  // Only '<', '>' and '&' are escaped; quotes, CR and control characters go
  // out as they are, as the platform writes them.
  [[gnu::noinline]] void appendEscaped(std::string_view s) {
    std::size_t from = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
      const char* entity;
      switch (s[i]) {
        case '<':
          entity = "&lt;";
          break;
        case '>':
          entity = "&gt;";
          break;
        case '&':
          entity = "&amp;";
          break;
        default:
          continue;
      }
      out_.append(s.substr(from, i - from));
      out_.append(entity);
      from = i + 1;
    }
    out_.append(s.substr(from));
  }

  void appendInteger(Integer i) {
    char buf[24];
    auto r = i.negative ? std::to_chars(buf, buf + sizeof buf, static_cast<std::int64_t>(i.bits))
                        : std::to_chars(buf, buf + sizeof buf, i.bits);
    out_.append(buf, r.ptr);
  }

  // "%.17g" (without the process locale), with the platform's names for the
  // special values. The platform writes −0 as "0.0"; we keep its sign, which
  // every reader parses back, so the value survives the round trip.
  void appendReal(double r) {
    if (std::isnan(r)) {
      out_.append("nan");
    } else if (std::isinf(r)) {
      out_.append(r > 0 ? "+infinity" : "-infinity");
    } else if (r == 0) {
      out_.append(std::signbit(r) ? "-0.0" : "0.0");
    } else {
      // Not std::to_chars: the platform's C++ library has it for doubles only
      // from macOS 13.3 on.
      out_.append(RealText(r).view());
    }
  }

  Output out_;
};

}  // namespace

std::vector<std::uint8_t> writeXml(const Value& root) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(checkedSize(root));
  const ByteSink append = [&bytes](std::span<const std::uint8_t> piece) {
    bytes.insert(bytes.end(), piece.begin(), piece.end());
  };
  XmlWriter(append).finish(root);
  return bytes;
}

void writeXml(const Value& root, const ByteSink& sink) {
  checkedSize(root);
  XmlWriter(sink).finish(root);
}

}  // namespace zeph::plist
