#ifndef ZEPH_PLIST_FORMAT_H_
#define ZEPH_PLIST_FORMAT_H_

#include <cstdint>
#include <span>
#include <vector>

#include "plist/value.h"

namespace zeph::plist {

enum class Format { Binary, Xml, OpenStep };

/// Reads a property list in any format, detected in the platform's order:
/// binary ("bplist0" with a valid trailer), then XML, then old-style text.
/// `detected`, when given, receives the format that parsed. Throws Error.
Value read(std::span<const std::uint8_t> bytes, Format* detected = nullptr);

/// Reads `bytes` in `format` alone, with that reader's own reason when they
/// are not such a property list. Throws Error.
Value readAs(std::span<const std::uint8_t> bytes, Format format);

/// Writes `root` in the binary (version 1.0) or XML format. Old-style text is
/// read-only, as on the platform. Throws Error.
std::vector<std::uint8_t> write(const Value& root, Format format);

}  // namespace zeph::plist

#endif  // ZEPH_PLIST_FORMAT_H_
