#include "platform/child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/system_effects.h"
#include "support/sandbox.h"

namespace zeph {
namespace {

using test_support::readText;
using test_support::Sandbox;

// Runs `step` with standard output and error on `out` and `err`; returns what it returns.
template <typename F>
int withStreamsOn(int out, int err, F&& step) {
  std::fflush(stdout);
  std::fflush(stderr);
  int savedOut = ::dup(STDOUT_FILENO), savedErr = ::dup(STDERR_FILENO);
  ::dup2(out, STDOUT_FILENO);
  ::dup2(err, STDERR_FILENO);
  int result = step();
  std::fflush(stdout);
  ::dup2(savedOut, STDOUT_FILENO);
  ::dup2(savedErr, STDERR_FILENO);
  ::close(savedOut);
  ::close(savedErr);
  return result;
}

int createFile(const std::string& path) { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644); }

TEST(Run, ReturnsTheChildsExitStatusOrMinusOneWhenTheProgramCannotStart) {
  Sandbox box;
  const std::string script = (box.path() / "script").string();  // no execute permission
  test_support::writeBytes(script, {'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n'});
  // "sh" is found on PATH by a shell, but here it names a file in the working folder.
  ASSERT_FALSE(std::filesystem::exists("sh"));
  const struct {
    std::string program, command;
    int status;
  } cases[] = {{"/nonexistent/zeph-no-such-program", "", -1},
               {"/tmp", "", -1},
               {script, "", -1},
               {"sh", "exit 0", -1},
               {"/bin/sh", "exit 0", 0},
               {"/bin/sh", "exit 42", 42},
               {"/bin/sh", "kill -TERM $$", 128 + SIGTERM}};  // death by a signal must not read as success
  for (const auto& c : cases) {
    std::vector<std::string> args;
    if (!c.command.empty()) args = {"-c", c.command};
    EXPECT_EQ(run(c.program, args), c.status) << c.program << " " << c.command;
  }
}

TEST(Run, PassesEachArgumentUnchangedWithoutAShell) {
  Sandbox box;
  std::string out = (box.path() / "args").string();
  int status = run("/bin/sh", {"-c", "printf '%s\\n' \"$@\" > \"$0\"", out,
                               "/Users/Zoë Smith/Library/Screen Savers", "$HOME;echo hi", "", "*", "a\nb"});
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
  int file = createFile(captured);
  int status = withStreamsOn(file, STDERR_FILENO, [] {
    std::fputs("installer first, ", stdout);  // buffered, must come out before the child's text
    return run("/bin/sh", {"-c", "echo child second"});
  });
  ::close(file);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(readText(captured), "installer first, child second\n");
}

TEST(Run, QuietlyKeepsTheChildsOutputOffTheInstallersStreams) {
  Sandbox box;
  std::string captured = (box.path() / "streams").string();
  int file = createFile(captured);
  int missing = 0;
  int status = withStreamsOn(file, file, [&] {
    missing = runQuietly("/nonexistent/zeph-no-such-program", {});
    return runQuietly("/bin/sh", {"-c", "echo out; echo err >&2; exit 3"});
  });
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
  struct sigaction ignore {
  }, previous{};
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
  int file = createFile(errPath);
  struct stat st {};
  ::fstat(terminal, &st);
  int status = withStreamsOn(terminal, file, [&] {
    ScopedSystemEffects screen([&](SystemEffects& replaced) {
      if (screenShown) replaced.dialogScreenDevice = [&]() -> std::optional<dev_t> { return st.st_rdev; };
    });
    return run("/bin/sh", {"-c", "echo 'WallpaperAgent: no process found'; echo to-stderr >&2"});
  });
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

TEST(RunCapturing, ReturnsStandardOutputUpToTheLimitAndTheStatusButNotStandardError) {
  CapturedRun r = runCapturing("/bin/sh", {"-c", "printf 'a\\0b'; echo err >&2; exit 3"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.output, std::string("a\0b", 3));
  CapturedRun missing = runCapturing("/nonexistent/defaults", {"export"});
  EXPECT_EQ(missing.status, -1);
  EXPECT_EQ(missing.output, "");
  // The limit is kept, but a chatty child may finish.
  const std::string bytes = std::to_string(kMaxCapturedBytes + 100000);
  CapturedRun chatty = runCapturing("/bin/sh", {"-c", "head -c " + bytes + " /dev/zero"});
  EXPECT_EQ(chatty.status, 0);
  EXPECT_EQ(chatty.output.size(), kMaxCapturedBytes);
}

}  // namespace
}  // namespace zeph
