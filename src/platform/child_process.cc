#include "platform/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/system_effects.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace zeph {
namespace {

// Whether `fd` is the terminal the dialogs are drawn on. Compared by device
// number, not by name: /dev/tty, /dev/pts/3 and a dup of either are the same.
bool isDialogScreen(int fd, dev_t screen) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == screen;
}

// Where a child's standard output goes.
enum class Output { Inherited, Quiet, Captured };

// The child gets the installer's streams (but for a quiet run's output, a
// captured standard output, and what would reach the dialog screen),
// environment and working folder; nothing else is set up for it.
// posix_spawn (not posix_spawnp) takes the path as it is, so there is no
// search of PATH, and argv goes to the program unchanged, so nothing is ever
// read by a shell. Returns the child's id, or -1 when it cannot be started.
pid_t spawn(const std::string& path, const std::vector<std::string>& args, Output output, int outputFd = -1) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 2);
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  // Whatever the installer has buffered comes before what the child prints.
  std::fflush(stdout);

  posix_spawn_file_actions_t actions;
  if (::posix_spawn_file_actions_init(&actions) != 0) return -1;
  if (output == Output::Quiet) {
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  } else {
    if (output == Output::Captured) ::posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
    const auto& dialogScreen = systemEffects().dialogScreenDevice;
    if (std::optional<dev_t> screen = dialogScreen ? dialogScreen() : std::nullopt) {
      // While the dialog screen is up, what a child prints to it would
      // scribble over the screen: those of its streams go to /dev/null
      // instead. Streams going elsewhere (a log file, a pipe) stay as they are.
      for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        if (fd == STDOUT_FILENO && output == Output::Captured) continue;
        if (isDialogScreen(fd, *screen))
          ::posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_WRONLY, 0);
      }
    }
  }

  // The child starts with no signal blocked and SIGPIPE at its default, even
  // if the installer ignores SIGPIPE; handlers reset on exec anyway.
  posix_spawnattr_t attr;
  if (::posix_spawnattr_init(&attr) != 0) {
    ::posix_spawn_file_actions_destroy(&actions);
    return -1;
  }
  sigset_t none, pipe;
  sigemptyset(&none);
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  ::posix_spawnattr_setsigmask(&attr, &none);
  ::posix_spawnattr_setsigdefault(&attr, &pipe);
  ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  int spawned = ::posix_spawn(&pid, path.c_str(), &actions, &attr, argv.data(), environ);
  ::posix_spawnattr_destroy(&attr);
  ::posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : -1;
}

int waitFor(pid_t pid) {
  int status = 0;
  for (;;) {
    if (::waitpid(pid, &status, 0) == pid) break;
    if (errno != EINTR) return -1;  // only if someone else reaped our child
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  // A child ended by a signal reports 128 + the signal number, as a shell does,
  // so that it never reads as success.
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

int run(const std::string& path, const std::vector<std::string>& args) {
  if (const auto& replaced = systemEffects().runProgram) return replaced(path, args);
  pid_t pid = spawn(path, args, Output::Inherited);
  return pid < 0 ? -1 : waitFor(pid);
}

int runQuietly(const std::string& path, const std::vector<std::string>& args) {
  pid_t pid = spawn(path, args, Output::Quiet);
  return pid < 0 ? -1 : waitFor(pid);
}

CapturedRun runCapturing(const std::string& path, const std::vector<std::string>& args) {
  int fds[2];
  if (::pipe(fds) != 0) return {};  // no pipe2 on every system we build for
  UniqueFd readEnd(fds[0]);
  UniqueFd writeEnd(fds[1]);
  // Other children started meanwhile must not hold the pipe open.
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  pid_t pid = spawn(path, args, Output::Captured, writeEnd.get());
  writeEnd.close();  // ours closed, so the read below ends with the child
  if (pid < 0) return {};
  CapturedRun result;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(readEnd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    // Read on past the limit: a child blocked on a full pipe would never end.
    std::size_t keep = std::min(static_cast<std::size_t>(n), kMaxCapturedBytes - result.output.size());
    result.output.append(buffer, keep);
  }
  result.status = waitFor(pid);
  return result;
}

}  // namespace zeph
