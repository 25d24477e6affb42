#include "platform/run_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <system_error>

#include "base/process_values.h"
#include "support/sandbox.h"

namespace zeph {
namespace {

using std::chrono::milliseconds;
using test_support::HomeSandbox;
using test_support::namesIn;
using test_support::readText;

std::string hostName() {
  char name[256] = {};
  ::gethostname(name, sizeof name - 1);
  return name;
}

// A process id that no process has: a child that has been reaped.
long deadPid() {
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

std::string holderText(const std::string& host, long pid, std::int64_t start) {
  return "host " + host + "\npid " + std::to_string(pid) + "\nstart " + std::to_string(start) + "\n";
}

void writeText(const std::string& path, const std::string& text) {
  test_support::writeBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

TEST(RunLock, OneHolderAtATimeOnAFileThatStays) {
  HomeSandbox box;
  const std::string lockFile = realHome + "/.zeph.lock";
  std::optional<ScopedRunLock> first;
  first.emplace(lockFile, milliseconds(0));
  EXPECT_FALSE(first->byLockFile());
  // A second taker, in this process or another, waits and gives up.
  auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(ScopedRunLock(lockFile, milliseconds(200)), LockBusy);
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(200));
  pid_t child = ::fork();
  if (child == 0) {
    try {
      ScopedRunLock(lockFile, milliseconds(100));
    } catch (const LockBusy&) {
      ::_exit(0);
    }
    ::_exit(1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
  first.reset();
  EXPECT_NO_THROW(ScopedRunLock(lockFile, milliseconds(0)));
  // The file is made once and never removed: removing it would let a third
  // run lock a new file while a second still holds the old one.
  EXPECT_EQ(namesIn(realHome), std::vector<std::string>{".zeph.lock"});
  EXPECT_THROW(ScopedRunLock(realHome + "/missing/.zeph.lock", milliseconds(0)), std::system_error);
  ::mkdir((realHome + "/folder").c_str(), 0755);
  EXPECT_THROW(ScopedRunLock(realHome + "/folder", milliseconds(0)), std::system_error);
}

TEST(LockHolder, ReadsOnlyACompleteHolder) {
  const struct {
    const char* text;
    bool complete;
  } cases[] = {
      {"host mac.local\npid 42\nstart 1800000000\n", true},
      {"pid 42\nstart 1800000000\nhost mac.local\nnoise\n", false},      // a line without a value
      {"pid 42\nstart 1800000000\nhost mac.local\nnote later\n", true},  // unknown keys are let be
      {"host mac.local\npid 42\nstart 1800000000", false},               // cut short
      {"host mac.local\npid 42\n", false},
      {"host \npid 42\nstart 1800000000\n", false},
      {"host mac.local\npid 0\nstart 1800000000\n", false},
      {"host mac.local\npid -3\nstart 1800000000\n", false},
      {"host mac.local\npid 42x\nstart 1800000000\n", false},
      {"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::optional<LockHolder> holder = parseLockHolder(c.text);
    EXPECT_EQ(holder.has_value(), c.complete);
    if (holder) {
      EXPECT_EQ(holder->host, "mac.local");
      EXPECT_EQ(holder->pid, 42);
      EXPECT_EQ(holder->start, 1800000000);
    }
  }
}

TEST(LockHolder, GoneWhenItsProcessEndedHereOrItIsOld) {
  const std::int64_t now = 1'800'000'000;
  const std::string here = hostName();
  const long alive = ::getpid();
  const long dead = deadPid();
  const struct {
    const char* name;
    LockHolder holder;
    bool gone;
  } cases[] = {
      {"running here", {here, alive, now - 5}, false},
      {"ended here", {here, dead, now - 5}, true},
      {"on another host, recent", {"elsewhere", dead, now - 9 * 60}, false},
      {"on another host, over ten minutes", {"elsewhere", alive, now - 11 * 60}, true},
      {"running here, over ten minutes", {here, alive, now - 11 * 60}, true},
      {"from a clock set back", {here, alive, now + 11 * 60}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(lockHolderGone(c.holder, here, now), c.gone);
  }
}

TEST(LockFile, TakenWhenFreeOrStaleAndRemovedWhenReleased) {
  HomeSandbox box;
  const std::string held = realHome + "/.zeph.lock.held";
  const std::int64_t now = std::time(nullptr);
  {
    ScopedLockFile lock(held, milliseconds(0));
    std::optional<LockHolder> holder = parseLockHolder(readText(held));
    ASSERT_TRUE(holder);
    EXPECT_EQ(holder->host, hostName());
    EXPECT_EQ(holder->pid, ::getpid());
    EXPECT_LE(std::abs(holder->start - now), 5);
    EXPECT_THROW(ScopedLockFile(held, milliseconds(150)), LockBusy);
  }
  EXPECT_TRUE(namesIn(realHome).empty());

  // What a holder that never let go leaves, and whether a run may take it.
  const struct {
    const char* name;
    std::string text;
    int secondsOld;  // the file's age
    bool taken;
  } cases[] = {
      {"its process ended", holderText(hostName(), deadPid(), now), 0, true},
      {"its process runs", holderText(hostName(), ::getpid(), now), 0, false},
      {"another host's, over ten minutes old", holderText("elsewhere", 1, now - 601), 0, true},
      {"not written yet", "", 0, false},
      {"never written: killed between making and writing it", "", 10, true},
      {"cut short long ago", "host ", 60, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeText(held, c.text);
    const struct timeval times[2] = {{now - c.secondsOld, 0}, {now - c.secondsOld, 0}};
    ::utimes(held.c_str(), times);
    if (c.taken) {
      {
        ScopedLockFile lock(held, milliseconds(0));
        EXPECT_EQ(parseLockHolder(readText(held))->pid, ::getpid());
      }
      EXPECT_TRUE(namesIn(realHome).empty());
    } else {
      EXPECT_THROW(ScopedLockFile(held, milliseconds(0)), LockBusy);
      EXPECT_EQ(readText(held), c.text);
      ::unlink(held.c_str());
    }
  }

  // A lock taken over as stale meanwhile is the new holder's: releasing the
  // old one leaves it.
  {
    ScopedLockFile lock(held, milliseconds(0));
    ::unlink(held.c_str());
    writeText(held, holderText("elsewhere", 7, now));
  }
  EXPECT_EQ(parseLockHolder(readText(held))->host, "elsewhere");
}

}  // namespace
}  // namespace zeph
