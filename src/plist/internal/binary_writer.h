#ifndef ZEPH_PLIST_INTERNAL_BINARY_WRITER_H_
#define ZEPH_PLIST_INTERNAL_BINARY_WRITER_H_

#include <cstdint>
#include <vector>

#include "plist/value.h"

namespace zeph::plist {

/// Encodes `root` as a binary property list, version 1.0, the way the
/// platform writes it. The same value always gives the same bytes. Throws Error.
std::vector<std::uint8_t> writeBinary(const Value& root);

}  // namespace zeph::plist

#endif  // ZEPH_PLIST_INTERNAL_BINARY_WRITER_H_
