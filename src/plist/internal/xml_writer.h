#ifndef ZEPH_PLIST_INTERNAL_XML_WRITER_H_
#define ZEPH_PLIST_INTERNAL_XML_WRITER_H_

#include <cstdint>
#include <vector>

#include "plist/format.h"
#include "plist/value.h"

namespace zeph::plist {

/// Encodes `root` as an XML property list in the platform's layout (its
/// header, tab indentation, sorted keys). Throws Error.
std::vector<std::uint8_t> writeXml(const Value& root);

/// The same, passed to `sink` a piece at a time and never held whole. Nothing
/// reaches `sink` when the document cannot be written. Throws Error, or what
/// `sink` throws.
void writeXml(const Value& root, const ByteSink& sink);

}  // namespace zeph::plist

#endif  // ZEPH_PLIST_INTERNAL_XML_WRITER_H_
