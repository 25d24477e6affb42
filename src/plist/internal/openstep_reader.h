#ifndef ZEPH_PLIST_INTERNAL_OPENSTEP_READER_H_
#define ZEPH_PLIST_INTERNAL_OPENSTEP_READER_H_

#include <cstdint>
#include <span>

#include "plist/value.h"

namespace zeph::plist {

/// Parses the platform's old-style (OpenStep) text format. Every scalar is a
/// string or data; there is no writer, as on the platform. Throws Error.
Value readOpenStep(std::span<const std::uint8_t> bytes);

}  // namespace zeph::plist

#endif  // ZEPH_PLIST_INTERNAL_OPENSTEP_READER_H_
