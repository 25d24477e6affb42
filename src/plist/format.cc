#include "plist/format.h"

#include "plist/error.h"
#include "plist/internal/binary_reader.h"
#include "plist/internal/binary_writer.h"
#include "plist/internal/openstep_reader.h"
#include "plist/internal/xml_reader.h"
#include "plist/internal/xml_writer.h"

namespace zeph::plist {
namespace {

// Whether the first byte that is not XML white space opens a tag; the
// platform's XML reader gives up at once otherwise.
bool startsWithTag(std::span<const std::uint8_t> bytes) {
  for (std::uint8_t b : bytes) {
    if (b == ' ' || b == '\t' || b == '\n' || b == '\r') continue;
    return b == '<';
  }
  return false;
}

}  // namespace

Value read(std::span<const std::uint8_t> bytes, Format* detected) {
  if (bytes.empty()) throw Error("property list: the document is empty");
  auto found = [detected](Format f) {
    if (detected) *detected = f;
  };
  if (looksBinary(bytes)) {
    found(Format::Binary);
    return readBinary(bytes);
  }
  // As on the platform, text that fails as XML is tried as old-style text;
  // the XML error is the one worth reporting when the text looked like XML.
  // (Encodings with a byte-order mark or NUL bytes are XML's to decide.)
  bool xmlLike =
      startsWithTag(bytes) || bytes[0] == 0 || bytes[0] >= 0x80 || (bytes.size() > 1 && bytes[1] == 0);
  if (xmlLike) {
    try {
      Value v = readXml(bytes);
      found(Format::Xml);
      return v;
    } catch (const Error& xmlError) {
      try {
        Value v = readOpenStep(bytes);
        found(Format::OpenStep);
        return v;
      } catch (const Error&) {
        throw xmlError;
      }
    }
  }
  Value v = readOpenStep(bytes);
  found(Format::OpenStep);
  return v;
}

Value readAs(std::span<const std::uint8_t> bytes, Format format) {
  switch (format) {
    case Format::Binary:
      return readBinary(bytes);
    case Format::Xml:
      return readXml(bytes);
    case Format::OpenStep:
      break;
  }
  return readOpenStep(bytes);
}

std::vector<std::uint8_t> write(const Value& root, Format format) {
  switch (format) {
    case Format::Binary:
      return writeBinary(root);
    case Format::Xml:
      return writeXml(root);
    case Format::OpenStep:
      break;
  }
  throw Error("property list: the old-style text format cannot be written");
}

void write(const Value& root, Format format, const ByteSink& sink) {
  if (format == Format::Xml) return writeXml(root, sink);
  const std::vector<std::uint8_t> bytes = write(root, format);
  sink(bytes);
}

}  // namespace zeph::plist
