#ifndef ZEPH_BASE_INSTALLER_ERROR_H_
#define ZEPH_BASE_INSTALLER_ERROR_H_

#include <stdexcept>
#include <string>

namespace zeph {

/// The installer's own error: domain "app.zeph.installer", a code and the
/// user-facing message (what() is the localized description shown to the user).
/// Code 1: the saver bundle is missing. Code 2: the store cannot be read.
class InstallerError : public std::runtime_error {
 public:
  static constexpr const char* kDomain = "app.zeph.installer";
  InstallerError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

}  // namespace zeph

#endif  // ZEPH_BASE_INSTALLER_ERROR_H_
