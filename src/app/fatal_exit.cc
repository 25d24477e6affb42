#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/fatal_exit.h"
#include "app/interactive_run.h"
#include "base/process_values.h"

namespace zeph {

void finish(const std::string& message) {
  // Anything already printed to standard output goes out before the end.
  std::fflush(stdout);
  if (headless) {
    // One write, so that the line cannot be interleaved with a child's output.
    // A failed write still ends the run with status 1.
    std::string line = "error: " + message + "\n";
    ssize_t written;
    do {
      written = ::write(STDERR_FILENO, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
  } else {
    showFailureAlert(message);
  }
  std::exit(1);
}

}  // namespace zeph
