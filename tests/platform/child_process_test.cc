#include <fcntl.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "support/sandbox.h"

namespace zeph {
namespace {

using testing::readText;
using testing::Sandbox;

TEST(Run, ReportsMinusOneWhenTheProgramCannotStart) {
  EXPECT_EQ(run("/nonexistent/zeph-no-such-program", {}), -1);
  // A folder and a file without execute permission are not programs either.
  EXPECT_EQ(run("/tmp", {}), -1);
  Sandbox box;
  testing::writeBytes(box.path() / "script", {'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n'});
  EXPECT_EQ(run((box.path() / "script").string(), {}), -1);
}

TEST(Run, NeverSearchesThePath) {
  // "sh" is found on PATH by a shell, but here it names a file in the working folder.
  ASSERT_FALSE(std::filesystem::exists("sh"));
  EXPECT_EQ(run("sh", {"-c", "exit 0"}), -1);
}

TEST(Run, ReturnsTheChildsExitStatus) {
  EXPECT_EQ(run("/bin/sh", {"-c", "exit 0"}), 0);
  EXPECT_EQ(run("/bin/sh", {"-c", "exit 1"}), 1);
  EXPECT_EQ(run("/bin/sh", {"-c", "exit 42"}), 42);
  // Death by a signal must not read as success.
  EXPECT_EQ(run("/bin/sh", {"-c", "kill -TERM $$"}), 128 + SIGTERM);
}

TEST(Run, PassesEachArgumentUnchangedWithoutAShell) {
  Sandbox box;
  std::string out = (box.path() / "args").string();
  int status = run("/bin/sh", {"-c", "printf '%s\\n' \"$@\" > \"$0\"", out, "/Users/Zoë Smith/Library/Screen Savers",
                               "$HOME;echo hi", "", "*", "a\nb"});
  EXPECT_EQ(status, 0);
  EXPECT_EQ(readText(out), "/Users/Zoë Smith/Library/Screen Savers\n$HOME;echo hi\n\n*\na\nb\n");
}

TEST(Run, ChildInheritsEnvironmentWorkingFolderAndStreams) {
  Sandbox box;
  std::string out = (box.path() / "seen").string();
  ::setenv("ZEPH_RUN_TEST_VALUE", "inherited value", 1);
  EXPECT_EQ(run("/bin/sh", {"-c", "printf '%s|%s' \"$ZEPH_RUN_TEST_VALUE\" \"$(pwd -P)\" > \"$0\"", out}), 0);
  ::unsetenv("ZEPH_RUN_TEST_VALUE");
  EXPECT_EQ(readText(out), "inherited value|" + std::filesystem::current_path().string());

  // The child writes to the installer's own standard output.
  std::string captured = (box.path() / "stdout").string();
  std::fflush(stdout);
  int saved = ::dup(STDOUT_FILENO);
  int file = ::open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::dup2(file, STDOUT_FILENO);
  std::fputs("installer first, ", stdout);  // buffered, must come out before the child's text
  int status = run("/bin/sh", {"-c", "echo child second"});
  std::fflush(stdout);
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  ::close(file);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(readText(captured), "installer first, child second\n");
}

TEST(Run, QuietlyKeepsTheChildsOutputOffTheInstallersStreams) {
  Sandbox box;
  std::string captured = (box.path() / "streams").string();
  std::fflush(stdout);
  int savedOut = ::dup(STDOUT_FILENO);
  int savedErr = ::dup(STDERR_FILENO);
  int file = ::open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::dup2(file, STDOUT_FILENO);
  ::dup2(file, STDERR_FILENO);
  int status = runQuietly("/bin/sh", {"-c", "echo out; echo err >&2; exit 3"});
  int missing = runQuietly("/nonexistent/zeph-no-such-program", {});
  ::dup2(savedOut, STDOUT_FILENO);
  ::dup2(savedErr, STDERR_FILENO);
  ::close(savedOut);
  ::close(savedErr);
  ::close(file);
  EXPECT_EQ(status, 3);
  EXPECT_EQ(missing, -1);
  EXPECT_EQ(readText(captured), "");
}

TEST(Run, ChildStartsWithNoSignalBlockedOrIgnored) {
#ifdef __APPLE__
  GTEST_SKIP() << "reads the child's signal masks from /proc/self/status, which macOS does not have";
#endif
  Sandbox box;
  std::string out = (box.path() / "masks").string();
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &previous);
  sigset_t term, oldMask;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  ::sigprocmask(SIG_BLOCK, &term, &oldMask);
  EXPECT_EQ(run("/bin/sh", {"-c", "grep -E '^(SigBlk|SigIgn)' /proc/self/status > \"$0\"", out}), 0);
  ::sigprocmask(SIG_SETMASK, &oldMask, nullptr);
  ::sigaction(SIGPIPE, &previous, nullptr);
  std::string masks = readText(out);  // "SigBlk:\t<hex>\nSigIgn:\t<hex>\n", bit n-1 for signal n
  std::size_t blocked = masks.find("SigBlk:"), ignored = masks.find("SigIgn:");
  ASSERT_NE(blocked, std::string::npos);
  ASSERT_NE(ignored, std::string::npos);
  EXPECT_EQ(std::stoull(masks.substr(blocked + 7), nullptr, 16) & (1ull << (SIGTERM - 1)), 0u) << masks;
  EXPECT_EQ(std::stoull(masks.substr(ignored + 7), nullptr, 16) & (1ull << (SIGPIPE - 1)), 0u) << masks;
}

// What the child prints while the dialogs are drawn on a pseudo-terminal
// standing in for the user's screen: `screenShown` says whether the screen is up.
struct ScreenOutput {
  std::string onScreen;  // what reached the terminal
  std::string inFile;    // what reached standard error, a file
};

ScreenOutput outputWhileDialogsShow(bool screenShown) {
  Sandbox box;
  std::string errPath = (box.path() / "err").string();
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  EXPECT_GE(master, 0);
  ::grantpt(master);
  ::unlockpt(master);
  int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  int file = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  struct stat st {};
  ::fstat(terminal, &st);

  std::fflush(stdout);
  std::fflush(stderr);
  int savedOut = ::dup(STDOUT_FILENO), savedErr = ::dup(STDERR_FILENO);
  ::dup2(terminal, STDOUT_FILENO);
  ::dup2(file, STDERR_FILENO);
  if (screenShown) setDialogScreenDevice(st.st_rdev);
  int status = run("/bin/sh", {"-c", "echo 'WallpaperAgent: no process found'; echo to-stderr >&2"});
  setDialogScreenDevice(std::nullopt);
  ::dup2(savedOut, STDOUT_FILENO);
  ::dup2(savedErr, STDERR_FILENO);
  ::close(savedOut);
  ::close(savedErr);
  EXPECT_EQ(status, 0);

  ScreenOutput output;
  ::fcntl(master, F_SETFL, O_NONBLOCK);
  char buffer[256];
  for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) output.onScreen.append(buffer, n);
  ::close(terminal);
  ::close(master);
  ::close(file);
  output.inFile = readText(errPath);
  return output;
}

TEST(Run, RegressionChildOutputNeverScribblesOverTheDialogScreen) {
  ScreenOutput shown = outputWhileDialogsShow(true);
  EXPECT_EQ(shown.onScreen, "");
  EXPECT_EQ(shown.inFile, "to-stderr\n");  // not the screen: still the installer's own

  // Without a dialog screen the terminal gets it, as before.
  ScreenOutput plain = outputWhileDialogsShow(false);
  EXPECT_NE(plain.onScreen.find("WallpaperAgent: no process found"), std::string::npos);
  EXPECT_EQ(plain.inFile, "to-stderr\n");
}

TEST(RunCapturing, ReturnsStandardOutputAndStatusButNotStandardError) {
  CapturedRun r = runCapturing("/bin/sh", {"-c", "printf 'a\\0b'; echo err >&2; exit 3"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.output, std::string("a\0b", 3));
  CapturedRun missing = runCapturing("/nonexistent/defaults", {"export"});
  EXPECT_EQ(missing.status, -1);
  EXPECT_EQ(missing.output, "");
}

TEST(RunCapturing, KeepsTheLimitButLetsAChattyChildFinish) {
  const std::string bytes = std::to_string(kMaxCapturedBytes + 100000);
  CapturedRun r = runCapturing("/bin/sh", {"-c", "head -c " + bytes + " /dev/zero"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output.size(), kMaxCapturedBytes);
  CapturedRun quick = runCapturing("/bin/sh", {"-c", "echo x"});
  EXPECT_EQ(quick.output, "x\n");
}

}  // namespace
}  // namespace zeph
