#include "app/fatal_exit.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/interactive_run.h"
#include "base/process_values.h"
#include "platform/error_line.h"

namespace zeph {

void finish(const std::string& message) {
  // Anything already printed to standard output goes out before the end.
  std::fflush(stdout);
  if (headless) {
    // A failed write still ends the run with status 1.
    writeErrorLine(message);
  } else {
    showFailureAlert(message);
  }
  std::exit(1);
}

}  // namespace zeph
