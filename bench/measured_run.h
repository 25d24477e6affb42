#ifndef ZEPH_BENCH_MEASURED_RUN_H_
#define ZEPH_BENCH_MEASURED_RUN_H_

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace zeph::bench {

/// What one child process cost, from wait4(): its own and that of the
/// children it waited for.
struct MeasuredRun {
  int status = -1;   // exit status; -1 when it did not start or was killed
  double cpuMs = 0;  // user + system
  double wallMs = 0;
  double faults = 0;   // minor page faults (ru_minflt)
  double peakKiB = 0;  // peak resident set (ru_maxrss)
};

/// Runs `argv` (looked up in PATH) with our environment, in which each
/// "NAME=value" of `env` replaces the variable of that name; standard output
/// goes to `out` (created or truncated), standard error to /dev/null.
inline MeasuredRun runMeasured(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                               const std::string& out = "/dev/null") {
  // The first of two equal names wins in getenv(), so a replaced one must go.
  std::vector<std::string> environment = env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const std::string& given : env) {
      replaced = replaced || entry.compare(0, given.find('=') + 1, given, 0, given.find('=') + 1) == 0;
    }
    if (!replaced) environment.push_back(entry);
  }
  std::vector<char*> cargv, cenv;
  for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);
  for (const auto& e : environment) cenv.push_back(const_cast<char*>(e.c_str()));
  cenv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  MeasuredRun run;
  if (posix_spawnp(&pid, cargv[0], &actions, nullptr, cargv.data(), cenv.data()) == 0) {
    int status = 0;
    rusage ru{};
    while (wait4(pid, &status, 0, &ru) < 0 && errno == EINTR) {
    }
    run.wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    run.cpuMs = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 +
                static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
    run.faults = static_cast<double>(ru.ru_minflt);
    run.peakKiB = static_cast<double>(ru.ru_maxrss);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  return run;
}

}  // namespace zeph::bench

#endif  // ZEPH_BENCH_MEASURED_RUN_H_
