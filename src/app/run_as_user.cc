#include "app/run_as_user.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/child_process.h"

namespace zeph {
namespace {

constexpr const char* kRootNeedsUser =
    "run zeph-installer as the user whose screens it sets; a management tool can pass --user NAME";

struct UserEntry {
  std::string name;
  std::string home;
  uid_t uid = 0;
  gid_t gid = 0;
};

std::optional<UserEntry> lookUpUser(const std::string& name) {
  long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<std::size_t>(hint) : 4096);
  for (;;) {
    passwd entry{};
    passwd* found = nullptr;
    int rc = ::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc != 0 || found == nullptr) return std::nullopt;
    return UserEntry{found->pw_name, found->pw_dir != nullptr ? found->pw_dir : "", found->pw_uid,
                     found->pw_gid};
  }
}

RunAs refused(std::string error) {
  RunAs decision;
  decision.kind = RunAs::Kind::Refused;
  decision.error = std::move(error);
  return decision;
}

[[noreturn]] void failSwitch(const UserEntry& user, const char* call) {
  throw std::system_error(errno, std::generic_category(),
                          "couldn't act for \u201C" + user.name + "\u201D: " + call);
}

// For good: real, effective and saved ids all change, and root cannot be taken back.
void becomeUser(const UserEntry& user) {
  if (::initgroups(user.name.c_str(), user.gid) != 0) failSwitch(user, "initgroups");
  if (::setgid(user.gid) != 0) failSwitch(user, "setgid");
  if (::setuid(user.uid) != 0) failSwitch(user, "setuid");
  if (::setuid(0) == 0 || ::geteuid() != user.uid || ::getegid() != user.gid) {
    throw std::runtime_error("couldn't give up root to act for \u201C" + user.name + "\u201D");
  }
}

void setEnvironmentFor(const UserEntry& user) {
  if (::setenv("HOME", user.home.c_str(), 1) != 0 || ::setenv("USER", user.name.c_str(), 1) != 0 ||
      ::setenv("LOGNAME", user.name.c_str(), 1) != 0) {
    throw std::system_error(errno, std::generic_category(), "setenv");
  }
}

#ifdef __APPLE__
// Set for the run that launchctl starts inside the user's session, which then
// only has to become the user; it holds that user's id.
constexpr const char* kInSessionVariable = "ZEPH_INSTALLER_IN_SESSION_OF";

bool hasLoginSession(uid_t uid) {
  return runQuietly("/bin/launchctl", {"print", "gui/" + std::to_string(uid)}) == 0;
}
#endif

}  // namespace

RunAs decideRunAs(const InstallerCommand& command, bool isRoot, RootRule rule) {
  if (command.user) {
    if (!isRoot) {
      return refused("only root can act for another user; run zeph-installer --apply as that user instead");
    }
    RunAs decision;
    decision.kind = RunAs::Kind::User;
    decision.userName = *command.user;
    // Spelt out: the mode may have come from the program's own name, which the run again does not share.
    decision.modeArgs = {std::string(command.mode)};
    return decision;
  }
  if (isRoot && rule == RootRule::NeedsUser) return refused(kRootNeedsUser);
  return {};
}

int runAsUser(const std::string& installer, const std::string& userName,
              const std::vector<std::string>& modeArgs) {
  std::optional<UserEntry> user = lookUpUser(userName);
  if (!user) throw std::runtime_error("there is no user named \u201C" + userName + "\u201D");
  if (user->uid == 0) throw std::runtime_error("--user must name a user other than root");

#ifdef __APPLE__
  const std::string uid = std::to_string(user->uid);
  const char* marker = std::getenv(kInSessionVariable);
  if (marker == nullptr || uid != marker) {
    if (hasLoginSession(user->uid)) {
      // launchctl asuser needs root, so it comes first; the run it starts
      // inside the session becomes the user.
      if (::setenv(kInSessionVariable, uid.c_str(), 1) != 0) {
        throw std::system_error(errno, std::generic_category(), "setenv");
      }
      std::vector<std::string> args{"asuser", uid, installer};
      args.insert(args.end(), modeArgs.begin(), modeArgs.end());
      args.insert(args.end(), {"--user", userName});
      int status = run("/bin/launchctl", args);
      if (status < 0) throw std::runtime_error("couldn't start /bin/launchctl");
      return status;
    }
    std::fputs(("zeph-installer: \u201C" + userName +
                "\u201D is not logged in, so no wallpaper agent was restarted; the saver shows from the next "
                "login\n")
                   .c_str(),
               stderr);
  }
  ::unsetenv(kInSessionVariable);
#endif

  becomeUser(*user);
  setEnvironmentFor(*user);
  int status = run(installer, modeArgs);
  if (status < 0)
    throw std::runtime_error("couldn't start " + installer + " as \u201C" + userName + "\u201D");
  return status;
}

}  // namespace zeph
