// Any byte string given to readOpenStep() either parses or raises plist::Error;
// the sanitizers catch everything else (over-reads, overflow, runaway recursion).

#include <cstddef>
#include <cstdint>
#include <span>

#include "plist/error.h"
#include "plist/internal/openstep_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    (void)zeph::plist::readOpenStep(std::span<const std::uint8_t>(data, size));
  } catch (const zeph::plist::Error&) {
  }
  return 0;
}
