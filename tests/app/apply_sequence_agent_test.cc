// Headless runs that restart the wallpaper agent. The stand-in agent is a
// program named WallpaperAgent that /usr/bin/killall ends for real; killall
// reaches every process of that name, so each run happens in a private PID
// namespace holding only the installer and the agent (root only).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/process_values.h"
#include "platform/file_calls.h"
#include "plist/format.h"
#include "support/installer_runner.h"
#include "support/private_namespace.h"
#include "support/sandbox.h"
#include "support/store_builders.h"
#include "wallpaper_store/idle_entry.h"
#include "wallpaper_store/slot_count.h"
#include "wallpaper_store/store_slots.h"

namespace zeph {
namespace {

namespace fs = std::filesystem;
using test_support::backupNames;
using test_support::kRealisticStoreSlots;
using test_support::namesIn;
using test_support::putPlist;
using test_support::readBytes;
using test_support::readText;
using test_support::resultLine;
using test_support::RunResult;
using test_support::Sandbox;
using test_support::saverFolder;
using test_support::storeFile;

// Runs the installer in a private PID namespace, where killall reaches only
// what the script starts: the stand-in agent, when `mode` names one, which is
// ready once it has printed "ready" and is killed when the installer is done.
const char* const kWithAgent = R"(fifo=$1; program=$2; mode=$3; store=$4; log=$5; shift 5
if [ -n "$mode" ]; then
  rm -f "$fifo"; mkfifo "$fifo" || exit 125
  "$program" "$store" "$mode" "$log" > "$fifo" &
  agent=$!
  read -r ready < "$fifo"
  [ "$ready" = ready ] || exit 125
fi
"$@"; status=$?
[ -z "$mode" ] || kill -9 "$agent"
exit $status)";

int restarts(const fs::path& log) {
  std::string text = readText(log);
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class ApplySequence : public ::testing::Test {
 protected:
  void SetUp() override {
    if (auto reason = test_support::privateNamespaceUnavailable()) GTEST_SKIP() << *reason;
    ASSERT_TRUE(fs::exists("/usr/bin/killall")) << "install psmisc";
    home_ = box_.path() / "Users/Zoë Smith";
    log_ = box_.path() / "agent.log";
    setProcessValues(home_.string(), true);  // for zephSlotCount() on the sandbox
    putUserStore(test_support::realisticStore());
  }
  // A fresh home holding `root` as its store, and no agent log yet.
  void putUserStore(const plist::Value& root) {
    fs::remove_all(home_);
    fs::remove(log_);
    original_ = putPlist(storeFile(home_), root);
  }
  // `mode` empty: no agent runs.
  RunResult runInNamespace(const std::string& mode, const std::vector<std::string>& installerArgs,
                           const char* stdoutPath = nullptr, int stdoutFd = -1) {
    std::vector<std::string> args{(box_.path() / "agent-ready").string(),
                                  test_support::fakeAgentPath().string(),
                                  mode,
                                  agentStore_.empty() ? storeFile(home_).string() : agentStore_.string(),
                                  log_.string(),
                                  test_support::installerPath().string()};
    args.insert(args.end(), installerArgs.begin(), installerArgs.end());
    return test_support::runProgram(test_support::inPrivateNamespace(kWithAgent, args), home_.string(),
                                    stdoutPath, stdoutFd);
  }
  RunResult applyWithAgent(const std::string& mode) { return runInNamespace(mode, {"--apply"}); }
  Sandbox box_;
  fs::path home_;
  fs::path log_;
  fs::path agentStore_;  // the store the agent keeps; empty: Index.plist
  std::vector<std::uint8_t> original_;
};

// What the agent does with the store when it is restarted, and what the run
// makes of it; the result line gives the last pass's count. A revert
// on every restart and a removed store are ObservedApply's rows: the agent is
// restarted for real here, and the sequence's choices are the same.
TEST_F(ApplySequence, RewritesOnceMoreOnlyWhenTheAgentRevertsTheStore) {
  setProcessValues("/Users/olduser", true);
  const plist::Value stale(zephIdleNode());
  setProcessValues(home_.string(), true);
  struct Case {
    const char* name;
    const char* mode;
    plist::Value store;
    int restarts;
    std::int64_t slots = kRealisticStoreSlots;
  };
  const Case cases[] = {
      {"reverted once: a second pass", "revert-once", test_support::realisticStore(), 2},
      // Entries naming the saver of the account this Mac was migrated from
      // select nothing installed, so the re-count sees the revert.
      {"reverted to another home's saver", "revert-once",
       test_support::withSlotIdles(test_support::realisticStore(), [&stale](const Slot&) { return stale; }),
       2},
      {"kept: one pass", "keep", test_support::realisticStore(), 1},
      // Every reported store shape through the program, with its count.
      {"Sonoma, all linked", "keep", test_support::sonomaLinkedStore(), 1, 6},
      {"all spaces", "keep", test_support::allSpacesStore(), 1, 2},
      {"mixed", "keep", test_support::mixedStore(), 1, 7},
      {"unknown types", "keep", test_support::unknownTypeStore(), 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    putUserStore(c.store);
    RunResult r = applyWithAgent(c.mode);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, resultLine(home_, c.slots));
    EXPECT_EQ(restarts(log_), c.restarts);
    EXPECT_TRUE(fs::exists(saverFolder(home_) / "Contents/Info.plist"));
    // A store the agent put back is the one the first backup holds: no second copy of it.
    EXPECT_EQ(backupNames(home_).size(), 1u);
    for (const std::string& name : backupNames(home_)) {
      EXPECT_EQ(readBytes(test_support::backupFolder(home_) / name), original_) << name;
    }
    EXPECT_EQ(zephSlotCount(), c.slots);
  }
}

// The agent of macOS 26 may read either store: one that reverts only
// Index2.plist gets the second pass too, and the result line still counts
// Index.plist's slots.
TEST_F(ApplySequence, AnAgentRevertingTheSecondStoreGetsTheSecondPass) {
  putUserStore(test_support::macos26FirstStore());
  putPlist(test_support::secondStoreFile(home_), test_support::macos26SecondStore());
  agentStore_ = test_support::secondStoreFile(home_);
  RunResult r = applyWithAgent("revert-once");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, resultLine(home_, 3));
  EXPECT_EQ(restarts(log_), 2);
  EXPECT_EQ(zephSlotCount(), 3);
  EXPECT_EQ(zephSlotCount(storePath2), 8);
}

TEST_F(ApplySequence, FlagCountsAnywhereAndARepeatedRunIsSafe) {
  fs::remove(storeFile(home_));
  RunResult first = runInNamespace("", {"first", "--apply", "-psn_0_42"});
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, resultLine(home_, 0));  // no store: nothing to set
  // killall, finding no agent, says so on the shared standard error; the installer adds nothing.
  EXPECT_EQ(first.err.find("error:"), std::string::npos) << first.err;

  test_support::writeBytes(storeFile(home_), original_);
  test_support::writeBytes(saverFolder(home_) / "Contents/stale", {'s'});
  for (int run = 0; run < 2; ++run) {
    RunResult r = runInNamespace("", {"--apply"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, resultLine(home_, kRealisticStoreSlots));
    EXPECT_EQ(zephSlotCount(), kRealisticStoreSlots);
  }
  EXPECT_FALSE(fs::exists(saverFolder(home_) / "Contents/stale"));
}

// Two runs started together: the second waits for the first's lock, then
// runs in full. Both succeed and leave one correct store, one complete bundle,
// exact backups and nothing half-made.
TEST_F(ApplySequence, TwoRunsAtOnceTakeTurns) {
  const fs::path bundleSource = test_support::binaryDir() / "share/zeph/zeph.saver/Contents/Info.plist";
  for (int pair = 0; pair < 2; ++pair) {
    SCOPED_TRACE(pair);
    RunResult results[2];
    auto start = std::chrono::steady_clock::now();
    std::thread other([&] { results[1] = runInNamespace("", {"--apply"}); });
    results[0] = runInNamespace("", {"--apply"});
    other.join();
    // Each run pauses 1.5 s for the agent, and they do not overlap.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2900));
    for (const RunResult& r : results) {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, resultLine(home_, kRealisticStoreSlots));
      EXPECT_EQ(r.err.find("error:"), std::string::npos) << r.err;
    }
    EXPECT_EQ(zephSlotCount(), kRealisticStoreSlots);
    EXPECT_EQ(readBytes(saverFolder(home_) / "Contents/Info.plist"), readBytes(bundleSource));
    EXPECT_EQ(namesIn(saverFolder(home_).parent_path()),
              (std::vector<std::string>{".zeph.lock", "zeph.saver"}));
    EXPECT_EQ(namesIn(storeFile(home_).parent_path()), std::vector<std::string>{"Index.plist"});
  }
  // The user's store, then the rewritten one: each backed up once, whole.
  EXPECT_EQ(backupNames(home_).size(), 2u);
  bool originalKept = false;
  for (const std::string& name : backupNames(home_)) {
    std::vector<std::uint8_t> bytes = readBytes(test_support::backupFolder(home_) / name);
    originalKept = originalKept || bytes == original_;
    EXPECT_NO_THROW(plist::read(bytes)) << name;
  }
  EXPECT_TRUE(originalKept);
}

// A full standard output, or a pipe whose reader is gone (as in
// `zeph-installer --apply | true`): a failure, not a signal; the install stands.
TEST_F(ApplySequence, ResultLineThatCannotBeWrittenIsAFailure) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  ::close(pipeFds[0]);
  struct Case {
    const char* stdoutPath;
    int stdoutFd;
    const char* cause;
  };
  std::vector<Case> cases{{nullptr, pipeFds[1], "Broken pipe"}};
#ifndef __APPLE__
  cases.push_back({"/dev/full", -1, "No space left on device"});  // macOS has no /dev/full
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cause);
    RunResult r = runInNamespace("keep", {"--apply"}, c.stdoutPath, c.stdoutFd);
    EXPECT_EQ(r.status, 1) << "128 + 13 is the run killed by SIGPIPE";
    EXPECT_NE(r.err.find(std::string("error: couldn't print the result: ") + c.cause + "\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(zephSlotCount(), kRealisticStoreSlots);
  }
  ::close(pipeFds[1]);
}

// --uninstall after --apply, under the same agent restarts.
class UninstallSequence : public ApplySequence {
 protected:
  RunResult apply() { return runInNamespace("", {"--apply"}); }
  RunResult uninstall() { return runInNamespace("", {"--uninstall"}); }
  RunResult uninstallWithAgent(const std::string& mode) { return runInNamespace(mode, {"--uninstall"}); }
  static std::string resultFor(std::int64_t slots) {
    return "uninstalled; " + std::to_string(slots) + " screensaver slots restored\n";
  }
  plist::Value storeNow() const { return plist::read(readBytes(storeFile(home_))); }
  void putStore(const plist::Value& root) const { putPlist(storeFile(home_), root); }
  bool saverGone() const {
    return !fs::exists(fs::symlink_status(saverFolder(home_))) &&
           namesIn(saverFolder(home_).parent_path()) == std::vector<std::string>{".zeph.lock"};
  }
};

// Every store shape is put back by the library's own tests; here, the run's
// report of it and the change the user made meanwhile.
TEST_F(UninstallSequence, PutsTheStoreBackButKeepsWhatTheUserChangedMeanwhile) {
  using test_support::withMember;
  const std::vector<std::string> desktop{"SystemDefault", "Desktop"};
  const std::vector<std::string> idle{"Spaces", "", "Default", "Idle"};
  const plist::Value newDesktop = test_support::otherSlot("com.apple.wallpaper.choice.solid-color");
  const plist::Value newIdle = test_support::otherSlot("com.apple.wallpaper.choice.macintosh");
  for (const plist::Value& original :
       {test_support::realisticStore(), plist::read(test_support::fixture("realistic_store.bplist"))}) {
    fs::remove_all(home_ / "Library");
    putStore(original);
    RunResult applied = apply();
    ASSERT_EQ(applied.status, 0) << applied.err;
    const std::int64_t set = zephSlotCount();
    putStore(withMember(withMember(storeNow(), desktop, newDesktop), idle, newIdle));

    RunResult r = uninstallWithAgent("keep");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, resultFor(set - 1));
    const std::string firstBackup =
        test_support::backupFolder(home_).string() + "/" + backupNames(home_).front();
    EXPECT_NE(r.err.find("restored from " + firstBackup + "\n"), std::string::npos) << r.err;
    EXPECT_EQ(storeNow(), withMember(withMember(original, desktop, newDesktop), idle, newIdle));
    EXPECT_TRUE(saverGone());
    EXPECT_EQ(backupNames(home_).size(), 2u);  // the user's store and the one the uninstall changed
  }
}

TEST_F(UninstallSequence, RestoresOnceMoreWhenTheAgentPutsTheSaverBack) {
  ASSERT_EQ(apply().status, 0);
  RunResult r = uninstallWithAgent("revert-once");  // the agent holds the store with the saver
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, resultFor(kRealisticStoreSlots));
  EXPECT_EQ(restarts(log_), 2);
  EXPECT_EQ(storeNow(), test_support::realisticStore());
  EXPECT_TRUE(saverGone());
}

TEST_F(UninstallSequence, WithoutABackupTheSlotsLoseTheSaverEntry) {
  const plist::Value saver(zephIdleNode());
  putStore(
      test_support::withSlotIdles(test_support::realisticStore(), [&saver](const Slot&) { return saver; }));
  RunResult r = uninstall();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, resultFor(kRealisticStoreSlots));
  EXPECT_NE(r.err.find("no backup holds an earlier entry"), std::string::npos) << r.err;
  forEachSlot(*storeNow().asDictionary(), [](const Slot& slot) { EXPECT_EQ(slot.idle, nullptr); });
  EXPECT_EQ(backupNames(home_).size(), 1u);
}

TEST_F(UninstallSequence, PutsBothStoresOfAMacos26HomeBack) {
  const plist::Value first = test_support::macos26FirstStore();
  const plist::Value second = test_support::macos26SecondStore();
  const fs::path secondFile = test_support::secondStoreFile(home_);
  putStore(first);
  putPlist(secondFile, second);
  ASSERT_EQ(apply().status, 0);

  RunResult r = uninstall();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, resultFor(3));  // Index.plist's, as --apply counts
  EXPECT_NE(r.err.find(secondFile.string() + ": 8 screensaver slots restored\n"), std::string::npos) << r.err;
  EXPECT_NE(
      r.err.find("restored from " + test_support::backupFolder(home_).string() + "/wallpaper-store2-backup-"),
      std::string::npos)
      << r.err;
  EXPECT_EQ(storeNow(), first);
  EXPECT_EQ(plist::read(readBytes(secondFile)), second);  // linked again, every record
  EXPECT_TRUE(saverGone());
}

TEST_F(UninstallSequence, TwiceOrWithoutTheSaverChangesNothingMore) {
  RunResult untouched = uninstallWithAgent("keep");
  EXPECT_EQ(untouched.status, 0) << untouched.err;
  EXPECT_EQ(untouched.out, resultFor(0));
  EXPECT_EQ(readBytes(storeFile(home_)), original_);
  EXPECT_EQ(restarts(log_), 0);  // nothing changed: the agent is left alone

  ASSERT_EQ(apply().status, 0);
  EXPECT_EQ(uninstall().out, resultFor(kRealisticStoreSlots));
  const std::vector<std::uint8_t> restored = readBytes(storeFile(home_));
  RunResult again = uninstall();
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out, resultFor(0));
  EXPECT_EQ(readBytes(storeFile(home_)), restored);
  EXPECT_TRUE(saverGone());

  fs::remove(storeFile(home_));  // no store at all: the bundle still goes
  ASSERT_EQ(apply().status, 0);
  RunResult noStore = uninstall();
  EXPECT_EQ(noStore.status, 0) << noStore.err;
  EXPECT_EQ(noStore.out, resultFor(0));
  EXPECT_TRUE(saverGone());
}

// Where the file system refuses flock (network homes: ENOLCK, EOPNOTSUPP,
// EISDIR), an apply and an uninstall started together take turns through the
// lock file and leave a consistent home: installed with every slot on the
// saver, or removed with none; the lock file goes with the run.
TEST_F(UninstallSequence, WhereFlockIsRefusedTheLockFileKeepsAnApplyAndAnUninstallApart) {
  if (!file_calls::faultInjectionBuilt()) GTEST_SKIP() << "built without ZEPH_FAULT_INJECTION";
  for (const char* error : {"ENOLCK", "EOPNOTSUPP", "EISDIR", "EINVAL"}) {
    SCOPED_TRACE(error);
    putUserStore(test_support::realisticStore());
    ASSERT_EQ(apply().status, 0);
    const std::string fault = std::string("flock:*:") + error;
    ::setenv("ZEPH_FAULT", fault.c_str(), 1);  // the harness passes the tests' environment on
    RunResult results[2];
    std::thread other([&] { results[1] = uninstall(); });
    results[0] = apply();
    other.join();
    ::unsetenv("ZEPH_FAULT");
    for (const RunResult& r : results) {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_NE(r.err.find("zeph fault: flock #1 fails"), std::string::npos) << r.err;
    }
    const bool installed = fs::exists(saverFolder(home_) / "Contents/Info.plist");
    EXPECT_EQ(zephSlotCount(), installed ? kRealisticStoreSlots : 0);
    const std::vector<std::string> left = installed ? std::vector<std::string>{".zeph.lock", "zeph.saver"}
                                                    : std::vector<std::string>{".zeph.lock"};
    EXPECT_EQ(namesIn(saverFolder(home_).parent_path()), left);
  }
}

// A run stopped between the two renames of the bundle swap, on a file system
// without the exchange rename, left no bundle: the next run puts the complete
// new copy back before anything else, so that even a run that then fails
// leaves a bundle.
TEST_F(ApplySequence, PutsBackTheBundleAnInterruptedSwapLeftAside) {
  const fs::path folder = saverFolder(home_).parent_path();
  test_support::writeBytes(folder / ".zeph.saver.new-4242/Contents/Info.plist", {'n', 'e', 'w'});
  test_support::writeBytes(folder / ".zeph.saver.old-4242/Contents/Info.plist", {'o', 'l', 'd'});
  test_support::writeBytes(storeFile(home_),
                           {'b', 'p', 'l', 'i', 's', 't', '0', '0'});  // the run fails at the store
  RunResult r = runInNamespace("", {"--apply"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(readText(saverFolder(home_) / "Contents/Info.plist").substr(0, 5),
            "<?xml");  // then installed anew
  EXPECT_EQ(namesIn(folder), (std::vector<std::string>{".zeph.lock", "zeph.saver"}));
}

}  // namespace
}  // namespace zeph
