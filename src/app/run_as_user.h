#ifndef ZEPH_APP_RUN_AS_USER_H_
#define ZEPH_APP_RUN_AS_USER_H_

#include <string>
#include <vector>

#include "app/installer_command.h"

namespace zeph {

/// Who an installer run acts for, and what root may do. Root's own home holds
/// no user's screens: on a Mac a root run (as management tools start it) would
/// install into /var/root, find no store and report success. So a root run
/// names the user with --user NAME and the installer runs again as that user.

/// How a platform treats a root run without --user.
enum class RootRule {
  NeedsUser,      // macOS: refused, root is never the user at the screen
  ActsForItself,  // elsewhere: root's home is as good as any other
};

#ifdef __APPLE__
inline constexpr RootRule kPlatformRootRule = RootRule::NeedsUser;
#else
inline constexpr RootRule kPlatformRootRule = RootRule::ActsForItself;
#endif

struct RunAs {
  enum class Kind {
    Caller,   // run as who started it, as always
    User,     // run again as userName
    Refused,  // stop with `error` before anything is touched
  };
  Kind kind = Kind::Caller;
  std::string userName;               // User: the name given to --user
  std::vector<std::string> modeArgs;  // User: the arguments of the run again: its mode
  std::string error;                  // Refused: the text of the error line
};

/// The decision from the command (which already holds --user only with a
/// mode), whether the caller is root, and the rule. --user NAME needs root.
RunAs decideRunAs(const InstallerCommand& command, bool isRoot, RootRule rule);

/// Runs the installer at `installer` again with `modeArgs` as the user
/// `userName`: looks the user up, takes its groups, group and user id for
/// good (checking that root cannot be taken back), sets HOME, USER and
/// LOGNAME from the user database and waits for the run, whose output goes to
/// this process's streams. On macOS, when the user has a login session, the
/// run goes through launchctl asuser into that session, so that the
/// preferences tool and the agent restart reach that user's session.
/// Returns the exit status of that run. When it cannot act for the user it
/// throws, before anything is touched, an error whose what() is the message
/// for the error line.
int runAsUser(const std::string& installer, const std::string& userName,
              const std::vector<std::string>& modeArgs);

}  // namespace zeph

#endif  // ZEPH_APP_RUN_AS_USER_H_
