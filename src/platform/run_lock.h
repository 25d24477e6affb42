#ifndef ZEPH_PLATFORM_RUN_LOCK_H_
#define ZEPH_PLATFORM_RUN_LOCK_H_

#include <chrono>
#include <stdexcept>
#include <string>

#include "platform/unique_fd.h"

namespace zeph {

/// Thrown by ScopedFolderLock when another process still holds the lock
/// after the wait.
class FolderBusy : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// An exclusive flock(2) on an existing folder, held until the object goes.
/// The lock lives on the folder itself, so taking it creates nothing. It
/// binds only processes that take it too, and is released by the system when
/// its holder dies, however it dies.
class ScopedFolderLock {
 public:
  /// Takes the lock on `folder`, waiting up to `wait` while another process
  /// holds it; then throws FolderBusy. Where the file system cannot lock
  /// (ENOLCK, ENOTSUP), goes on without: held() is false. Throws
  /// std::system_error when the folder cannot be opened.
  ScopedFolderLock(const std::string& folder, std::chrono::milliseconds wait);
  ScopedFolderLock(const ScopedFolderLock&) = delete;
  ScopedFolderLock& operator=(const ScopedFolderLock&) = delete;

  bool held() const { return held_; }

 private:
  UniqueFd fd_;  // closing it releases the lock
  bool held_ = false;
};

}  // namespace zeph

#endif  // ZEPH_PLATFORM_RUN_LOCK_H_
