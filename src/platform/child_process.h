#ifndef ZEPH_PLATFORM_CHILD_PROCESS_H_
#define ZEPH_PLATFORM_CHILD_PROCESS_H_

#include <cstddef>
#include <string>
#include <vector>

namespace zeph {

/// Starts the program at the absolute `path` with `args` (no shell, no PATH
/// search), inheriting streams, environment and working folder; waits for it
/// and returns its exit status, 128 + the signal when a signal ended it, or -1
/// when it cannot be started. While dialogs are drawn on a terminal (the
/// effects table's dialogScreenDevice), a child's standard output or error
/// bound for it goes to /dev/null instead, so it cannot scribble over the
/// screen. The effects table's runProgram, when set, runs instead.
int run(const std::string& path, const std::vector<std::string>& args);

/// run(), with the child's standard output and error going to /dev/null: for
/// a program that is asked a question only its exit status answers.
int runQuietly(const std::string& path, const std::vector<std::string>& args);

/// What runCapturing() gives back: the status as run() reports it, and the
/// child's standard output.
struct CapturedRun {
  int status = -1;
  std::string output;
};

/// The most runCapturing() keeps of a child's output; the rest is read and dropped.
inline constexpr std::size_t kMaxCapturedBytes = std::size_t{16} << 20;

/// Like run(), but the child's standard output comes back instead of going to
/// ours (at most kMaxCapturedBytes of it). A program that cannot be started
/// gives -1 and no output.
CapturedRun runCapturing(const std::string& path, const std::vector<std::string>& args);

}  // namespace zeph

#endif  // ZEPH_PLATFORM_CHILD_PROCESS_H_
