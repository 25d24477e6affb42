#ifndef ZEPH_PLATFORM_UNIQUE_FD_H_
#define ZEPH_PLATFORM_UNIQUE_FD_H_

#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace zeph {

/// Throws the std::system_error for a failed POSIX call on `path`; its message
/// names both, e.g. "open(/Users/a/x.plist): Permission denied".
[[noreturn]] inline void throwErrno(const char* call, const std::string& path, int error = errno) {
  throw std::system_error(error, std::generic_category(), std::string(call) + "(" + path + ")");
}

/// Owns a file descriptor. close() is not retried on EINTR: the descriptor is
/// gone either way.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  /// Closes now and reports failure: a late write error can surface here.
  int close() {
    int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;  // -1 when empty
};

}  // namespace zeph

#endif  // ZEPH_PLATFORM_UNIQUE_FD_H_
