#ifndef ZEPH_PLIST_FORMAT_H_
#define ZEPH_PLIST_FORMAT_H_

#include <cstdint>
#include <functional>
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

/// Where written text goes: each call passes the next piece, in order.
using ByteSink = std::function<void(std::span<const std::uint8_t>)>;

/// Writes `root` as write() does, through `sink`. XML goes a piece of a fixed
/// buffer at a time, never held whole, which spares large documents most of
/// the memory writing them takes; binary goes in one piece. Nothing reaches
/// `sink` when `root` cannot be written. Throws Error, or what `sink` throws.
void write(const Value& root, Format format, const ByteSink& sink);

}  // namespace zeph::plist

#endif  // ZEPH_PLIST_FORMAT_H_
