#ifndef ZEPH_PLATFORM_HOME_H_
#define ZEPH_PLATFORM_HOME_H_

#include <optional>
#include <string>

namespace zeph {

/// The current user's home folder: $HOME when it is set and absolute, else the
/// user database's entry for the real user id. Trailing slashes are dropped,
/// so the home "/" comes back as the empty string and paths are built by
/// appending "/Library/…". None when neither source gives an absolute path.
std::optional<std::string> currentUserHome();

/// The home folder of the user called `name` in the user database, in the
/// same form. None when there is no such user or the entry's home is not absolute.
std::optional<std::string> userHome(const std::string& name);

}  // namespace zeph

#endif  // ZEPH_PLATFORM_HOME_H_
