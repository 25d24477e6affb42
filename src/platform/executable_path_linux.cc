#include <optional>
#include <string>
#include <system_error>

#include "platform/executable_path.h"
#include "platform/files.h"

namespace zeph {

std::optional<std::string> executablePath() {
  try {
    return readLink("/proc/self/exe");
  } catch (const std::system_error&) {
    return std::nullopt;  // no /proc mounted
  }
}

}  // namespace zeph
