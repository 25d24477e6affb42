#ifndef ZEPH_TESTS_SUPPORT_INSTALLER_RUNNER_H_
#define ZEPH_TESTS_SUPPORT_INSTALLER_RUNNER_H_

/// Runs the built installer (or another program) as a separate process with a
/// chosen home, capturing the exit status and both output streams.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/private_namespace.h"
#include "support/sandbox.h"

extern char** environ;

namespace zeph::test_support {

struct RunResult {
  int status = -1;  // exit status, 128 + signal, or -1 when it could not start
  std::string out;
  std::string err;
};

/// Runs `argv` (argv[0] an absolute path) with the environment of the tests,
/// HOME replaced by `home` or removed; standard input is /dev/null. A run that
/// takes more than a minute is killed. Standard output goes to `stdoutPath`
/// when given (e.g. /dev/full), else to `stdoutFd` when that is not -1 (e.g.
/// a pipe whose reader is gone), else it is captured.
inline RunResult runProgram(const std::vector<std::string>& argv, const std::optional<std::string>& home,
                            const char* stdoutPath = nullptr, int stdoutFd = -1) {
  Sandbox streams;
  const std::string outPath = (streams.path() / "out").string();
  const std::string errPath = (streams.path() / "err").string();
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e).rfind("HOME=", 0) != 0) env.emplace_back(*e);
  }
  if (home) env.push_back("HOME=" + *home);
  std::vector<char*> cargv, cenv;
  for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);
  for (const auto& e : env) cenv.push_back(const_cast<char*>(e.c_str()));
  cenv.push_back(nullptr);

  pid_t pid = ::fork();
  if (pid == 0) {
    // No controlling terminal: an interactive run must not reach the user's screen.
    ::setsid();
    int in = ::open("/dev/null", O_RDONLY);
    int out = stdoutPath == nullptr && stdoutFd != -1
                  ? stdoutFd
                  : ::open(stdoutPath != nullptr ? stdoutPath : outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                           0644);
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execve(cargv[0], cargv.data(), cenv.data());
    ::_exit(127);
  }
  RunResult result;
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = readText(outPath);
  result.err = readText(errPath);
  return result;
}

/// Runs the installer with `args` as runProgram() does. Where a private PID
/// namespace can be made (root), the run happens in one: a run that gets as
/// far as ending "WallpaperAgent" by name reaches nothing outside it, so tests
/// that run the installer need not wait for each other. (Without root, killall
/// reaches only this user's processes, and no Linux system runs that agent.)
inline RunResult runInstaller(const std::vector<std::string>& args, const std::optional<std::string>& home,
                              const std::string& installer = installerPath().string()) {
  std::vector<std::string> argv{installer};
  argv.insert(argv.end(), args.begin(), args.end());
  // The shell stays the namespace's first process, which signals without a
  // handler would not reach, and hands on the installer's status.
  if (!privateNamespaceUnavailable()) argv = inPrivateNamespace("\"$@\"; exit $?", argv);
  return runProgram(argv, home);
}

/// A copy of the built installer at <prefix>/bin/zeph-installer, with no saver
/// bundle beside it; returns the copy's path.
inline std::string installerCopy(const fs::path& prefix) {
  fs::create_directories(prefix / "bin");
  fs::copy_file(installerPath(), prefix / "bin/zeph-installer", fs::copy_options::overwrite_existing);
  return (prefix / "bin/zeph-installer").string();
}

/// installerCopy() with the saver bundle copied into <prefix>/share, under a
/// folder every user can traverse as an installed copy would be (the build
/// tree may sit in a private folder).
inline std::string installerWithBundle(const fs::path& prefix) {
  std::string installer = installerCopy(prefix);
  fs::create_directories(prefix / "share/zeph");
  fs::copy(sourceDir() / "resources/zeph.saver", prefix / "share/zeph/zeph.saver",
           fs::copy_options::recursive);
  return installer;
}

/// `argv` run through setpriv as user and group `id`, with no other groups.
inline std::vector<std::string> asUser(unsigned id, std::vector<std::string> argv) {
  const std::string n = std::to_string(id);
  argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=" + n, "--regid=" + n, "--clear-groups"});
  return argv;
}

inline std::string resultLine(const fs::path& home, std::int64_t count) {
  return "installed " + saverFolder(home).string() + "; " + std::to_string(count) +
         " screensaver slots set to zeph\n";
}

}  // namespace zeph::test_support

#endif  // ZEPH_TESTS_SUPPORT_INSTALLER_RUNNER_H_
