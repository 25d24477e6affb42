#ifndef ZEPH_TESTS_SUPPORT_PRIVATE_NAMESPACE_H_
#define ZEPH_TESTS_SUPPORT_PRIVATE_NAMESPACE_H_

/// Runs a test's shell script in a private PID and mount namespace
/// (unshare --pid --fork --mount-proc): killall there sees only the processes
/// the script starts, and a bind mount there (say a copy of /etc/passwd that
/// holds a user made for the test) is seen by nothing outside it. So a test
/// can end processes by name and add users without reaching anything else on
/// the machine. Needs root and Linux; tests skip when unavailable() says why.

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace zeph::test_support {

inline const char* const kUnshare = "/usr/bin/unshare";

/// Why a private namespace cannot be made here, or none when it can.
inline std::optional<std::string> privateNamespaceUnavailable() {
  if (::geteuid() != 0) return "needs root for a private PID and mount namespace";
  if (!std::filesystem::exists(kUnshare)) return std::string("needs ") + kUnshare;
  static const bool works = [] {
    const char* argv[] = {kUnshare, "--pid", "--fork", "--mount-proc", "/bin/true", nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, kUnshare, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return false;
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }();
  if (!works) return "unshare cannot make a PID namespace here";
  return std::nullopt;
}

/// The argv that runs `script` with /bin/sh in a fresh private namespace,
/// with `args` as $1, $2, ... Whatever ends unshare (a test's time limit, say)
/// ends everything inside too.
inline std::vector<std::string> inPrivateNamespace(const std::string& script,
                                                   const std::vector<std::string>& args) {
  std::vector<std::string> argv{kUnshare, "--pid", "--fork", "--mount-proc", "--kill-child", "/bin/sh",
                                "-c",     script,  "sh"};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

}  // namespace zeph::test_support

#endif  // ZEPH_TESTS_SUPPORT_PRIVATE_NAMESPACE_H_
