#include "platform/run_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <ctime>
#include <thread>
#include <utility>

#include "platform/file_calls.h"

namespace zeph {
namespace {

constexpr std::chrono::milliseconds kRetryPause{50};

// A writer fills in its lock file right after making it; text that still
// cannot be read as a holder this much later was cut short by a kill.
constexpr std::chrono::seconds kUnwrittenLockFileGrace{5};

std::string thisHost() {
  char name[256] = {};  // the longest host name POSIX allows is 255 bytes
  if (::gethostname(name, sizeof name - 1) != 0) return "unknown";
  return name;
}

std::int64_t secondsNow() { return static_cast<std::int64_t>(std::time(nullptr)); }

template <typename Number>
bool parseNumber(std::string_view text, Number& value) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// What the lock file at `path` says and which file it is. None when it is gone.
struct LockFileSeen {
  std::optional<LockHolder> holder;
  struct stat st {};
};

std::optional<LockFileSeen> readLockFile(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) return std::nullopt;
    throwErrno("open", path);
  }
  LockFileSeen seen;
  if (::fstat(fd.get(), &seen.st) != 0) throwErrno("fstat", path);
  if (!S_ISREG(seen.st.st_mode))
    throw std::runtime_error(path + ": not a regular file, so not a lock this program took");
  char text[1024];
  ssize_t n;
  do {
    n = ::read(fd.get(), text, sizeof text);
  } while (n < 0 && errno == EINTR);
  if (n < 0) throwErrno("read", path);
  seen.holder = parseLockHolder(std::string_view(text, static_cast<std::size_t>(n)));
  return seen;
}

bool sameFile(const struct stat& a, dev_t device, ino_t inode) {
  return a.st_dev == device && a.st_ino == inode;
}

// Removes the file at `path` when it is still the one `seen` describes. A
// waiter that made its own in the instant between the look and the removal
// loses it; the look keeps that instant to a few microseconds.
void removeIfStill(const std::string& path, const struct stat& seen) {
  struct stat now {};
  if (::lstat(path.c_str(), &now) == 0 && sameFile(now, seen.st_dev, seen.st_ino)) ::unlink(path.c_str());
}

bool stale(const LockFileSeen& seen) {
  if (seen.holder) return lockHolderGone(*seen.holder, thisHost(), secondsNow());
  return secondsNow() - static_cast<std::int64_t>(seen.st.st_mtime) > kUnwrittenLockFileGrace.count();
}

}  // namespace

std::optional<LockHolder> parseLockHolder(std::string_view text) {
  LockHolder holder;
  bool host = false, pid = false, start = false;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;  // a line cut short
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    std::string_view key = line.substr(0, space), value = line.substr(space + 1);
    if (key == "host") {
      holder.host = std::string(value);
      host = !value.empty();
    } else if (key == "pid") {
      pid = parseNumber(value, holder.pid) && holder.pid > 0;
    } else if (key == "start") {
      start = parseNumber(value, holder.start);
    }
  }
  if (!host || !pid || !start) return std::nullopt;
  return holder;
}

bool lockHolderGone(const LockHolder& holder, const std::string& host, std::int64_t now) {
  const std::int64_t age = now - holder.start;
  const std::int64_t lifetime = std::chrono::seconds(kLockFileLifetime).count();
  if (age > lifetime || age < -lifetime) return true;
  // EPERM: it runs, as another user.
  return holder.host == host && ::kill(static_cast<pid_t>(holder.pid), 0) != 0 && errno == ESRCH;
}

ScopedLockFile::ScopedLockFile(std::string path, std::chrono::milliseconds wait)
    : path_(std::move(path)), fd_(-1) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  const std::string text = "host " + thisHost() + "\npid " + std::to_string(::getpid()) + "\nstart " +
                           std::to_string(secondsNow()) + "\n";
  for (;;) {
    UniqueFd fd(file_calls::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() >= 0) {
      struct stat st {};
      ssize_t written =
          ::fstat(fd.get(), &st) == 0 ? file_calls::write(fd.get(), text.data(), text.size()) : -1;
      if (written != static_cast<ssize_t>(text.size())) {
        int error = written < 0 ? errno : EIO;
        ::unlink(path_.c_str());
        throwErrno("write", path_, error);
      }
      device_ = st.st_dev;
      inode_ = st.st_ino;
      fd_ = std::move(fd);
      return;
    }
    if (errno == EINTR) continue;
    if (errno != EEXIST) throwErrno("open", path_);
    std::optional<LockFileSeen> seen = readLockFile(path_);
    if (!seen) continue;  // its holder just left
    if (stale(*seen)) {
      removeIfStill(path_, seen->st);
      continue;
    }
    if (std::chrono::steady_clock::now() >= deadline) throw LockBusy(path_ + " is held by another process");
    std::this_thread::sleep_for(kRetryPause);
  }
}

ScopedLockFile::~ScopedLockFile() {
  // Taken over as stale meanwhile: the file there now is another run's.
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0 && sameFile(st, device_, inode_)) ::unlink(path_.c_str());
}

ScopedRunLock::ScopedRunLock(const std::string& lockFile, std::chrono::milliseconds wait)
    : fd_(file_calls::open(lockFile.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600)) {
  if (fd_.get() < 0) throwErrno("open", lockFile);
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (file_calls::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) return;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      // Refused, not held: the lock file stands in, for the rest of the wait.
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      fallback_.emplace(lockFile + ".held", std::max(left, std::chrono::milliseconds(0)));
      return;
    }
    if (std::chrono::steady_clock::now() >= deadline)
      throw LockBusy(lockFile + " is locked by another process");
    std::this_thread::sleep_for(kRetryPause);
  }
}

}  // namespace zeph
