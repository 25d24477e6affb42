#ifndef ZEPH_PLIST_INTERNAL_XML_READER_H_
#define ZEPH_PLIST_INTERNAL_XML_READER_H_

#include <cstdint>
#include <span>

#include "plist/value.h"

namespace zeph::plist {

/// Parses an XML property list with the platform's own small grammar (not a
/// general XML parser: text is kept exactly as it stands). Throws Error.
Value readXml(std::span<const std::uint8_t> bytes);

}  // namespace zeph::plist

#endif  // ZEPH_PLIST_INTERNAL_XML_READER_H_
