#ifndef ZEPH_PLATFORM_RUN_LOCK_H_
#define ZEPH_PLATFORM_RUN_LOCK_H_

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace zeph {

/// Thrown when another process still holds a lock after the wait.
class LockBusy : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Who holds a lock file, as it says in its text: "host <name>", "pid <n>"
/// and "start <seconds since 1970>", one a line.
struct LockHolder {
  std::string host;
  long pid = 0;
  std::int64_t start = 0;
};

/// The holder `text` names; none when a line is missing or malformed.
std::optional<LockHolder> parseLockHolder(std::string_view text);

/// How long a lock file holds at most: runs take seconds, so an older one was
/// left by a run that ended without removing it, here or on another host.
inline constexpr std::chrono::minutes kLockFileLifetime{10};

/// Whether the lock file of `holder`, read at `now` (seconds since 1970) on
/// the host `thisHost`, holds nothing any more: its process no longer runs on
/// this host (kill(pid, 0) says ESRCH), or it was taken more than
/// kLockFileLifetime before or after `now` (a clock that was set back).
bool lockHolderGone(const LockHolder& holder, const std::string& thisHost, std::int64_t now);

/// An exclusive lock held by a file that exists only while it is held,
/// made with O_CREAT | O_EXCL and naming its holder (LockHolder): the lock
/// for file systems that refuse flock(2), such as some network shares. A file
/// whose holder is gone (lockHolderGone()), or whose text is not a holder
/// several seconds after it was made, is removed and the lock taken. Unlike
/// flock(2) it outlives a killed holder until then.
class ScopedLockFile {
 public:
  /// Takes the lock at `path`, waiting up to `wait` while another process
  /// holds it; then throws LockBusy. Throws std::system_error when the file
  /// cannot be made or read.
  ScopedLockFile(std::string path, std::chrono::milliseconds wait);
  ~ScopedLockFile();
  ScopedLockFile(const ScopedLockFile&) = delete;
  ScopedLockFile& operator=(const ScopedLockFile&) = delete;

 private:
  std::string path_;
  UniqueFd fd_;       // kept open, so that no other file can take the inode number while it is held
  dev_t device_ = 0;  // the file this object made: removed only while still at path_
  ino_t inode_ = 0;
};

/// The lock that keeps runs on one home apart: an exclusive flock(2) on the
/// regular file `lockFile` (created when missing, never removed), held until
/// the object goes and released by the system however its holder dies. Where
/// the file system refuses flock(2) for any reason but another holder (ENOLCK,
/// EOPNOTSUPP, EISDIR on network shares that lock nothing but some files), a
/// ScopedLockFile at `lockFile` + ".held" takes its place: a run never goes
/// on without one of the two.
class ScopedRunLock {
 public:
  /// Waits up to `wait` while another process holds the lock, then throws
  /// LockBusy. Throws std::system_error when neither lock can be taken.
  ScopedRunLock(const std::string& lockFile, std::chrono::milliseconds wait);
  ScopedRunLock(const ScopedRunLock&) = delete;
  ScopedRunLock& operator=(const ScopedRunLock&) = delete;

  /// Whether the lock is the lock file rather than flock(2).
  bool byLockFile() const { return fallback_.has_value(); }

 private:
  UniqueFd fd_;                             // the flocked file; closing it releases the lock
  std::optional<ScopedLockFile> fallback_;  // set only where flock(2) is refused
};

}  // namespace zeph

#endif  // ZEPH_PLATFORM_RUN_LOCK_H_
