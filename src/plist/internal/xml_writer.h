#ifndef ZEPH_PLIST_INTERNAL_XML_WRITER_H_
#define ZEPH_PLIST_INTERNAL_XML_WRITER_H_

#include <cstdint>
#include <vector>

#include "plist/value.h"

namespace zeph::plist {

/// Encodes `root` as an XML property list in the platform's layout (its
/// header, tab indentation, sorted keys). Throws Error.
std::vector<std::uint8_t> writeXml(const Value& root);

}  // namespace zeph::plist

#endif  // ZEPH_PLIST_INTERNAL_XML_WRITER_H_
