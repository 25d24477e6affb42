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
#include <poll.h>
#include <signal.h>
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

// SIGTERM only writes a byte here; main() waits on the other end. (macOS has
// no sigtimedwait.)
int termPipe[2] = {-1, -1};

void onTerm(int, siginfo_t* info, void*) {
  // In a private PID namespace a sender outside it shows as pid 0: some
  // other run's killall, not the installer under test.
  if (info != nullptr && info->si_pid == 0) return;
  const int saved = errno;
  const char byte = 0;
  (void)!::write(termPipe[1], &byte, 1);
  errno = saved;
}

// Waits up to `limitMs` for SIGTERM; true when one or more came. Those that
// came meanwhile count once, as a pending signal does.
bool waitForTerm(int limitMs) {
  pollfd readable = {termPipe[0], POLLIN, 0};
  int n;
  while ((n = ::poll(&readable, 1, limitMs)) < 0 && errno == EINTR) {
  }
  if (n <= 0) return false;
  char bytes[64];
  while (::read(termPipe[0], bytes, sizeof bytes) > 0) {
  }
  return true;
}

bool setUpTermPipe() {
  if (::pipe(termPipe) != 0) return false;
  for (int fd : termPipe) {
    if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0 || ::fcntl(fd, F_SETFL, O_NONBLOCK) != 0) return false;
  }
  struct sigaction action = {};
  action.sa_sigaction = onTerm;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  return ::sigaction(SIGTERM, &action, nullptr) == 0;
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

  // Before "ready": from then on SIGTERM must not end us.
  if (!setUpTermPipe()) {
    std::perror("WallpaperAgent: SIGTERM pipe");
    return 2;
  }

  const std::vector<char> kept = readAll(store);
  std::fputs("ready\n", stdout);
  std::fflush(stdout);

  for (int signals = 0;;) {
    if (!waitForTerm(60'000)) return 3;  // nobody restarted us: the test has gone
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
