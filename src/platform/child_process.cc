#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/child_process.h"

extern char** environ;

namespace zeph {

// The child gets the installer's streams, environment and working folder;
// nothing is set up for it. posix_spawn (not posix_spawnp) takes the path as
// it is, so there is no search of PATH, and argv goes to the program
// unchanged, so nothing is ever read by a shell.
int run(const std::string& path, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 2);
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  // Whatever the installer has buffered comes before what the child prints.
  std::fflush(stdout);

  // The child starts with no signal blocked and SIGPIPE at its default, even
  // if the installer ignores SIGPIPE for its web requests; handlers reset on exec anyway.
  posix_spawnattr_t attr;
  if (::posix_spawnattr_init(&attr) != 0) return -1;
  sigset_t none, pipe;
  sigemptyset(&none);
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  ::posix_spawnattr_setsigmask(&attr, &none);
  ::posix_spawnattr_setsigdefault(&attr, &pipe);
  ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  int spawned = ::posix_spawn(&pid, path.c_str(), nullptr, &attr, argv.data(), environ);
  ::posix_spawnattr_destroy(&attr);
  if (spawned != 0) return -1;

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

}  // namespace zeph
