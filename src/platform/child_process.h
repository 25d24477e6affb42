#ifndef ZEPH_PLATFORM_CHILD_PROCESS_H_
#define ZEPH_PLATFORM_CHILD_PROCESS_H_

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace zeph {

/// Starts the program at the absolute `path` with `args` (no shell, no PATH
/// search), inheriting streams, environment and working folder; waits for it
/// and returns its exit status, 128 + the signal when a signal ended it, or -1
/// when it cannot be started.
int run(const std::string& path, const std::vector<std::string>& args);

/// run(), with the child's standard output and error going to /dev/null: for
/// a program that is asked a question only its exit status answers.
int runQuietly(const std::string& path, const std::vector<std::string>& args);

/// While dialogs are drawn on a terminal, that terminal's device number
/// (st_rdev); none otherwise. A child's standard output or error that goes
/// to it goes to /dev/null instead, so it cannot scribble over the screen.
/// Set by the terminal dialog backend.
void setDialogScreenDevice(std::optional<dev_t> device);

}  // namespace zeph

#endif  // ZEPH_PLATFORM_CHILD_PROCESS_H_
