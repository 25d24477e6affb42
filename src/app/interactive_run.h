#ifndef ZEPH_APP_INTERACTIVE_RUN_H_
#define ZEPH_APP_INTERACTIVE_RUN_H_

#include <string>

namespace zeph {

/// The exit status of a run that a Ctrl-C ended after the install finished.
inline constexpr int kInterruptedStatus = 130;

/// The interactive run: confirmation, apply sequence, location setup,
/// completion alert, whose texts stay on standard error once the screen is
/// closed. A Ctrl-C during the install lets it finish, then ends the run
/// with kInterruptedStatus and "interrupted after: " + the result line on
/// standard error. Returns the exit status; errors of the apply sequence
/// propagate to the caller.
int runInteractive();

/// Shows the failure alert ("Something went wrong") with `message`, closes
/// the screen and leaves the error line on standard error.
void showFailureAlert(const std::string& message);

}  // namespace zeph

#endif  // ZEPH_APP_INTERACTIVE_RUN_H_
