// The main bundle of a command-line tool is the folder that holds it, so the
// bundle APIs cannot find resources in share/zeph; the executable's own path
// is all the bundle search needs.

#include <mach-o/dyld.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/executable_path.h"

namespace zeph {

std::optional<std::string> executablePath() {
  std::vector<char> buffer(1024);
  std::uint32_t size = static_cast<std::uint32_t>(buffer.size());
  if (_NSGetExecutablePath(buffer.data(), &size) != 0) {
    buffer.resize(size);  // the call put the size it needs in `size`
    if (_NSGetExecutablePath(buffer.data(), &size) != 0) return std::nullopt;
  }
  return std::string(buffer.data());
}

}  // namespace zeph
