// Stands in for the platform's wallpaper agent in the apply-sequence tests.
// Built as a program named WallpaperAgent, so /usr/bin/killall finds it by name.
//
//   WallpaperAgent STORE MODE LOG
//
// At start it keeps the store's bytes, as the agent keeps its state in memory,
// then prints "ready" on standard output. Each SIGTERM appends "TERM" to LOG and,
// by MODE, puts the kept bytes back (revert-once: on the first signal only;
// revert-always: on every signal), removes the store (remove) or leaves it
// (keep). It runs until it is killed, or gives up after a minute.

#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<char> readAll(const char* path) {
  std::vector<char> bytes;
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  char buffer[65536];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  ::close(fd);
  return bytes;
}

bool writeAll(const char* path, const char* data, std::size_t size) {
  int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return ::close(fd) == 0 && done == size;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: WallpaperAgent STORE revert-once|revert-always|remove|keep LOG\n", stderr);
    return 2;
  }
  const char* store = argv[1];
  const std::string mode = argv[2];
  const char* log = argv[3];

  // Taken by sigtimedwait below, never delivered asynchronously.
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  sigprocmask(SIG_BLOCK, &term, nullptr);

  const std::vector<char> kept = readAll(store);
  std::fputs("ready\n", stdout);
  std::fflush(stdout);

  const timespec limit{60, 0};
  for (int signals = 0;;) {
    siginfo_t info{};
    if (sigtimedwait(&term, &info, &limit) != SIGTERM) {
      if (errno == EINTR) continue;
      return 3;  // nobody restarted us: the test has gone
    }
    // In a private PID namespace a sender outside it shows as pid 0: some
    // other run's killall, not the installer under test.
    if (info.si_pid == 0) continue;
    ++signals;
    std::vector<char> lines = readAll(log);
    lines.insert(lines.end(), {'T', 'E', 'R', 'M', '\n'});
    writeAll(log, lines.data(), lines.size());
    if (mode == "revert-always" || (mode == "revert-once" && signals == 1)) {
      writeAll(store, kept.data(), kept.size());
    } else if (mode == "remove") {
      ::unlink(store);
    }
  }
}
