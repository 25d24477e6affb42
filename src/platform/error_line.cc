#include "platform/error_line.h"

#include <unistd.h>

#include <cerrno>

namespace zeph {

bool writeErrorLine(const std::string& message) {
  std::string line = "error: " + message + "\n";
  ssize_t written;
  do {
    written = ::write(STDERR_FILENO, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  return written == static_cast<ssize_t>(line.size());
}

}  // namespace zeph
