#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/fatal_exit.h"
#include "support/sandbox.h"
#include "base/process_values.h"

namespace zeph {
namespace {

using testing::readText;
using testing::Sandbox;

// Runs finish() in a child process with standard output and error captured.
struct Finished {
  int status = -1;
  std::string out;
  std::string err;
};

Finished finishInChild(const std::string& message, const std::string& printedBefore) {
  Sandbox box;
  std::string outPath = (box.path() / "out").string();
  std::string errPath = (box.path() / "err").string();
  std::fflush(stdout);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
    ::dup2(::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
    setHeadlessOnly(true);
    std::fputs(printedBefore.c_str(), stdout);  // still buffered when finish() runs
    finish(message);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(outPath), readText(errPath)};
}

TEST(Finish, WritesTheErrorLineAndExitsWithOne) {
  Finished plain = finishInChild("Couldn't read the macOS screensaver settings file.", "");
  EXPECT_EQ(plain.status, 1);
  EXPECT_EQ(plain.err, "error: Couldn't read the macOS screensaver settings file.\n");
  EXPECT_EQ(plain.out, "");

  Finished empty = finishInChild("", "");
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.err, "error: \n");

  Finished lines = finishInChild("first\nsecond\n", "");
  EXPECT_EQ(lines.err, "error: first\nsecond\n\n");

  Finished text = finishInChild("Zoë — “quoted” → 20°", "");
  EXPECT_EQ(text.err, "error: Zoë — “quoted” → 20°\n");
}

TEST(Finish, FlushesStandardOutputFirst) {
  Finished f = finishInChild("stopped", "partial output");
  EXPECT_EQ(f.status, 1);
  EXPECT_EQ(f.out, "partial output");
  EXPECT_EQ(f.err, "error: stopped\n");
}

}  // namespace
}  // namespace zeph
