#include "app/fatal_exit.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "base/process_values.h"
#include "support/sandbox.h"

namespace zeph {
namespace {

using test_support::readText;
using test_support::Sandbox;

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

// The message as it is after "error: " and before a newline, standard output
// flushed first, and exit status 1.
TEST(Finish, FlushesOutputThenWritesTheErrorLineAndExitsWithOne) {
  struct Case {
    const char* message;
    const char* printedBefore;
  };
  const Case cases[] = {
      {"Couldn't read the macOS screensaver settings file.", ""},
      {"", ""},
      {"first\nsecond\n", ""},
      {"Zoë — “quoted” → 20°", ""},
      {"stopped", "partial output"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Finished f = finishInChild(c.message, c.printedBefore);
    EXPECT_EQ(f.status, 1);
    EXPECT_EQ(f.out, c.printedBefore);
    EXPECT_EQ(f.err, std::string("error: ") + c.message + "\n");
  }
}

}  // namespace
}  // namespace zeph
