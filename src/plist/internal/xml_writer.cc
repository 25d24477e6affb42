#include "plist/internal/xml_writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
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
// in UTF-16 order. Everything is appended to one buffer, as stores run to
// tens of megabytes.

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

// Appends text to the output bytes. Out of line, so the writer's recursive
// functions do not each carry the vector's growth code in their frames.
class Output {
 public:
  [[gnu::noinline]] void append(std::string_view s) { bytes_.insert(bytes_.end(), s.begin(), s.end()); }
  void append(const char* first, const char* last) {
    append(std::string_view(first, static_cast<std::size_t>(last - first)));
  }
  [[gnu::noinline]] void append(std::size_t count, char c) {
    bytes_.insert(bytes_.end(), count, static_cast<std::uint8_t>(c));
  }
  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

// Output beyond this is refused: values from binary documents may share
// objects, and a small file that nests shared arrays 40 deep would spell out
// 2^40 elements here.
constexpr std::size_t kMaxOutput = std::size_t{1} << 30;

// Adds roughly the bytes writing `v` at `indent` takes to `total`, so the
// output is sized once instead of growing through copies (a third of the
// time for big stores). Stops early, returning false, past kMaxOutput.
bool estimateSize(const Value& v, std::size_t indent, std::size_t& total) {
  if (total > kMaxOutput) return false;
  if (indent > kMaxDepth) return true;  // the writer refuses it anyway
  if (const Dictionary* d = v.asDictionary()) {
    total += 2 * indent + 16;
    for (const auto& [key, item] : *d) {
      total += indent + 13 + key.size();
      if (!estimateSize(item, indent + 1, total)) return false;
    }
  } else if (const Array* a = v.asArray()) {
    total += 2 * indent + 18;
    for (const auto& item : *a) {
      if (!estimateSize(item, indent + 1, total)) return false;
    }
  } else if (const std::string* s = v.asString()) {
    total += indent + 18 + s->size();
  } else if (const Data* data = v.asData()) {
    std::size_t chars = (data->size() + 2) / 3 * 4;
    total +=
        2 * indent + 16 + chars + (chars / (76 - 8 * std::min<std::size_t>(indent, 8)) + 1) * (indent + 1);
  } else {
    total += 3 * indent + 64;  // numbers, dates, booleans, references
  }
  return total <= kMaxOutput;
}

class XmlWriter {
 public:
  std::vector<std::uint8_t> finish(const Value& root) {
    std::size_t size = kHeader.size() + 9;
    if (!estimateSize(root, 0, size)) throw Error("XML plist: the document would be larger than 1 GiB");
    out_.bytes().reserve(size);
    out_.append(kHeader);
    write(root, 0);
    out_.append("</plist>\n");
    return std::move(out_.bytes());
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
        // Readers take "CF$UID" as 32 bits; a larger one would come back as
        // an ordinary dictionary.
        if (v.asUid()->value > 0xFFFF'FFFFull) refuseUid(v.asUid()->value);
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

  static void checkDepth(std::size_t indent) {
    if (indent >= kMaxDepth) throw Error("XML plist: arrays and dictionaries nested too deeply to write");
  }

  [[gnu::noinline]] void writeDict(const Dictionary& d, std::size_t indent) {
    if (d.empty()) {
      out_.append("<dict/>\n");
      return;
    }
    checkDepth(indent);
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
    for (const auto& m : d) {
      checkText(m.first);  // the order needs well-formed keys
      sorted.push_back(&m);
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const auto* a, const auto* b) { return lessInUtf16Order(a->first, b->first); });
    return sorted;
  }

  [[gnu::noinline]] void writeArray(const Array& a, std::size_t indent) {
    if (a.empty()) {
      out_.append("<array/>\n");
      return;
    }
    checkDepth(indent);
    out_.append("<array>\n");
    for (const auto& item : a) write(item, indent + 1);
    tabs(indent);
    out_.append("</array>\n");
  }

  void writeData(const Data& data, std::size_t indent) {
    out_.append("<data>\n");
    appendBase64Lines(data, 76 - 8 * std::min<std::size_t>(indent, 8), indent, out_.bytes());
    tabs(indent);
    out_.append("</data>\n");
  }

  [[gnu::noinline]] void writeDate(Date d) {
    auto t = calendarFromSeconds(d.secondsSince2001);
    if (!t) throw Error("XML plist: date " + std::to_string(d.secondsSince2001) + " s has no calendar form");
    out_.append("<date>");
    out_.append(formatCalendarTime(*t));
    out_.append("</date>\n");
  }

  // XML text cannot carry bytes that are not UTF-8, nor the lone surrogates
  // the binary format may hold; both are refused rather than mangled.
  static void checkText(std::string_view s) {
    std::size_t bad = findInvalidUtf8(s);
    if (bad != std::string_view::npos) refuseText(s, bad);
  }

  [[noreturn, gnu::noinline]] static void refuseUid(std::uint64_t uid) {
    throw Error("XML plist: UID " + std::to_string(uid) + " does not fit the 32 bits XML readers take");
  }

  [[noreturn, gnu::noinline]] static void refuseText(std::string_view s, std::size_t bad) {
    if (findEncodedSurrogate(s) == bad) {
      throw Error("XML plist: string \"" + std::string(s.substr(0, bad)) +
                  "…\" holds a lone UTF-16 surrogate, which XML cannot carry");
    }
    throw Error("XML plist: string at byte " + std::to_string(bad) + " is not valid UTF-8");
  }

  // Only '<', '>' and '&' are escaped; quotes, CR and control characters go
  // out as they are, as the platform writes them.
  [[gnu::noinline]] void appendEscaped(std::string_view s) {
    checkText(s);
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

std::vector<std::uint8_t> writeXml(const Value& root) { return XmlWriter().finish(root); }

}  // namespace zeph::plist
