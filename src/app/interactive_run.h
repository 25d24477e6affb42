#ifndef ZEPH_APP_INTERACTIVE_RUN_H_
#define ZEPH_APP_INTERACTIVE_RUN_H_

#include <string>

namespace zeph {

/// The interactive run: confirmation, apply sequence, location setup,
/// completion alert. Returns the exit status; errors of the apply sequence
/// propagate to the caller.
int runInteractive();

/// Shows the failure alert ("Something went wrong") with `message`.
void showFailureAlert(const std::string& message);

}  // namespace zeph

#endif  // ZEPH_APP_INTERACTIVE_RUN_H_
