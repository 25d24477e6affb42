#include "main/interactive_run.h"

#include <stdexcept>
#include <unistd.h>

namespace zeph {

// Placeholder until the dialogs exist: an interactive run cannot be completed.
int runInteractive() {
  throw std::runtime_error("only an unattended install is available in this build; run zeph-installer --apply");
}

void showFailureAlert(const std::string& message) {
  std::string line = "error: " + message + "\n";
  (void)!::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace zeph
