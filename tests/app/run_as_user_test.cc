// Root runs and --user: the decision on both platforms' rules, and runs of the
// built installer as root for a user made for the test inside a private mount
// namespace, so that the machine's user database is never changed.

#include "app/run_as_user.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/installer_runner.h"
#include "support/private_namespace.h"
#include "support/sandbox.h"
#include "support/store_builders.h"

namespace zeph {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;
using Kind = RunAs::Kind;
using test_support::readBytes;
using test_support::RunResult;
using test_support::Sandbox;
using test_support::storeFile;
using test_support::writeBytes;

const std::string kRootNeedsUser =
    "run zeph-installer as the user whose screens it sets; a management tool can pass --user NAME";

// Missing names, a second --user and --user without a mode are refused
// earlier, as usage errors (command_line_test.cc).
TEST(RunAsDecision, RootWithoutUserIsRefusedOnlyWhereRootIsNeverTheUser) {
  for (std::string_view mode : {"--apply", ""}) {
    RunAs mac = decideRunAs({mode, std::nullopt}, true, RootRule::NeedsUser);
    EXPECT_EQ(mac.kind, Kind::Refused);
    EXPECT_EQ(mac.error, kRootNeedsUser);
    EXPECT_EQ(decideRunAs({mode, std::nullopt}, true, RootRule::ActsForItself).kind, Kind::Caller);
  }
  for (RootRule rule : {RootRule::NeedsUser, RootRule::ActsForItself}) {
    EXPECT_EQ(decideRunAs({"--apply", std::nullopt}, false, rule).kind, Kind::Caller);
    EXPECT_EQ(decideRunAs({}, false, rule).kind, Kind::Caller);
  }
}

TEST(RunAsDecision, UserRunsAgainWithTheModeSpeltOutOnBothPlatforms) {
  for (RootRule rule : {RootRule::NeedsUser, RootRule::ActsForItself}) {
    for (std::string_view mode : {"--apply", "--uninstall", "--refresh-bundle"}) {
      RunAs run = decideRunAs({mode, "zoe"}, true, rule);
      EXPECT_EQ(run.kind, Kind::User);
      EXPECT_EQ(run.userName, "zoe");
      EXPECT_EQ(run.modeArgs, (Args{std::string(mode)}));
    }
    RunAs notRoot = decideRunAs({"--apply", "zoe"}, false, rule);
    EXPECT_EQ(notRoot.kind, Kind::Refused);
    EXPECT_EQ(notRoot.error,
              "only root can act for another user; run zeph-installer --apply as that user instead");
  }
}

// The first user id from 61000 that the machine's user database does not hold.
uid_t unusedUserId() {
  for (uid_t uid = 61000; uid < 62000; ++uid) {
    if (::getpwuid(uid) == nullptr) return uid;
  }
  throw std::runtime_error("no free user id");
}

bool isEmptyFolder(const fs::path& path) { return fs::is_directory(path) && fs::is_empty(path); }

class RootRun : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::permissions(box_.path(), static_cast<fs::perms>(0755));
    installer_ = test_support::installerWithBundle(box_.path() / "prefix");
    rootHome_ = box_.path() / "root-home";
    fs::create_directory(rootHome_);
  }
  Sandbox box_;
  std::string installer_;
  fs::path rootHome_;  // HOME of the root run; nothing may appear in it
};

TEST_F(RootRun, ApplyForAUserInstallsIntoThatUsersHomeAsThatUser) {
  if (auto reason = test_support::privateNamespaceUnavailable()) GTEST_SKIP() << *reason;
  const uid_t uid = unusedUserId();
  const std::string name = "zeph-test-user";
  const fs::path home = box_.path() / "home" / name;
  const std::vector<std::uint8_t> store =
      test_support::putPlist(storeFile(home), test_support::realisticStore());
  for (const auto& entry : fs::recursive_directory_iterator(box_.path() / "home")) {
    ASSERT_EQ(::lchown(entry.path().c_str(), uid, uid), 0);
  }
  ASSERT_EQ(::chown((box_.path() / "home").c_str(), uid, uid), 0);

  const fs::path passwd = box_.path() / "passwd";
  const fs::path group = box_.path() / "group";
  writeBytes(passwd, readBytes("/etc/passwd"));
  writeBytes(group, readBytes("/etc/group"));
  {
    std::ofstream(passwd, std::ios::app)
        << name << ":x:" << uid << ":" << uid << ":zeph test:" << home.string() << ":/bin/sh\n";
    std::ofstream(group, std::ios::app) << name << ":x:" << uid << ":\n";
  }
  const std::string script =
      "mount --bind \"$1\" /etc/passwd && mount --bind \"$2\" /etc/group && exec \"$3\" --apply --user "
      "\"$4\"";
  RunResult r = test_support::runProgram(
      test_support::inPrivateNamespace(script, {passwd.string(), group.string(), installer_, name}),
      rootHome_.string());

  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, test_support::resultLine(home, test_support::kRealisticStoreSlots));
  struct stat st {};
  ASSERT_EQ(::stat(test_support::saverFolder(home).c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, uid);
  for (const auto& entry : fs::directory_iterator(test_support::backupFolder(home))) {
    ASSERT_EQ(::stat(entry.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, uid) << entry.path();
    if (entry.path().filename() != "applied") {
      EXPECT_EQ(readBytes(entry.path()), store);
    }
  }
  ASSERT_EQ(::stat(storeFile(home).c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, uid);
  EXPECT_TRUE(isEmptyFolder(rootHome_));
  EXPECT_EQ(::getpwnam(name.c_str()), nullptr);  // the machine never saw the user
}

// A refused --user ends the run before anything is written, even in a home
// the run could write to.
TEST_F(RootRun, RefusedUserTouchesNothing) {
  const bool root = ::geteuid() == 0;
  fs::permissions(rootHome_, fs::perms::all);
  struct Case {
    bool dropRoot;  // as an unprivileged user; the others need root
    const char* user;
    const char* error;
  };
  const Case cases[] = {
      {false, "zeph-no-such-user", "error: there is no user named \u201Czeph-no-such-user\u201D\n"},
      {false, "root", "error: --user must name a user other than root\n"},
      {true, "root",
       "error: only root can act for another user; run zeph-installer --apply as that user instead\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    std::vector<std::string> argv{installer_, "--apply", "--user", c.user};
    if (!root && !c.dropRoot) continue;  // --user is for root
    if (root && c.dropRoot) {
      if (!fs::exists("/usr/bin/setpriv")) continue;  // needs setpriv to drop root
      argv = test_support::asUser(65534, argv);
    }
    RunResult r = test_support::runProgram(argv, rootHome_.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.error);
    EXPECT_TRUE(isEmptyFolder(rootHome_));
  }
}

}  // namespace
}  // namespace zeph
