#ifndef ZEPH_PLIST_INTERNAL_BINARY_READER_H_
#define ZEPH_PLIST_INTERNAL_BINARY_READER_H_

#include <cstdint>
#include <span>

#include "plist/value.h"

namespace zeph::plist {

/// True when `bytes` start with "bplist0" and end in a trailer that passes
/// the platform's checks, i.e. when the platform would parse them as binary.
bool looksBinary(std::span<const std::uint8_t> bytes);

/// Parses a binary property list, version 1.0. Throws Error.
Value readBinary(std::span<const std::uint8_t> bytes);

}  // namespace zeph::plist

#endif  // ZEPH_PLIST_INTERNAL_BINARY_READER_H_
