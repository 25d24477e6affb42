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
#include <filesystem>
#include <string>

#include "base/process_values.h"
#include "support/installer_runner.h"
#include "support/private_namespace.h"
#include "support/sandbox.h"
#include "support/store_builders.h"
#include "wallpaper_store/slot_count.h"

namespace zeph {
namespace {

namespace fs = std::filesystem;
using testing::backupCount;
using testing::kRealisticStoreSlots;
using testing::readBytes;
using testing::readText;
using testing::resultLine;
using testing::RunResult;
using testing::Sandbox;
using testing::storeFile;

// Runs the installer in a private PID namespace, where killall reaches only
// what the script starts: the stand-in agent, when `mode` names one, which is
// ready once it has printed "ready" and is killed when the installer is done.
const char* const kWithAgent = R"(fifo=$1; program=$2; mode=$3; store=$4; log=$5; shift 5
if [ -n "$mode" ]; then
  mkfifo "$fifo" || exit 125
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
    if (auto reason = testing::privateNamespaceUnavailable()) GTEST_SKIP() << *reason;
    ASSERT_TRUE(fs::exists("/usr/bin/killall")) << "install psmisc";
    home_ = box_.path() / "Users/Zoë Smith";
    original_ = plist::write(testing::realisticStore(), plist::Format::Binary);
    testing::writeBytes(storeFile(home_), original_);
    log_ = box_.path() / "agent.log";
    setProcessValues(home_.string(), true);  // for zephSlotCount() on the sandbox
  }
  // `mode` empty: no agent runs.
  RunResult runInNamespace(const std::string& mode, const std::vector<std::string>& installerArgs,
                           const char* stdoutPath = nullptr) {
    std::vector<std::string> args{(box_.path() / "agent-ready").string(), ZEPH_FAKE_AGENT_PATH, mode,
                                  storeFile(home_).string(), log_.string(), ZEPH_INSTALLER_PATH};
    args.insert(args.end(), installerArgs.begin(), installerArgs.end());
    return testing::runProgram(testing::inPrivateNamespace(kWithAgent, args), home_.string(), stdoutPath);
  }
  RunResult applyWithAgent(const std::string& mode) { return runInNamespace(mode, {"--apply"}); }
  Sandbox box_;
  fs::path home_;
  fs::path log_;
  std::vector<std::uint8_t> original_;
};

TEST_F(ApplySequence, RewritesOnceMoreWhenTheAgentRevertsTheStore) {
  RunResult r = applyWithAgent("revert-once");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, resultLine(home_, kRealisticStoreSlots));
  EXPECT_EQ(restarts(log_), 2);
  EXPECT_EQ(backupCount(home_), 2u);
  EXPECT_EQ(zephSlotCount(), kRealisticStoreSlots);
  EXPECT_TRUE(fs::exists(testing::saverFolder(home_) / "Contents/Info.plist"));
  // Both backups hold the user's own store: the agent had put it back.
  for (const auto& entry : fs::directory_iterator(testing::backupFolder(home_))) {
    EXPECT_EQ(readBytes(entry.path()), original_) << entry.path();
  }
}

TEST_F(ApplySequence, StopsAfterOnePassWhenTheStoreKeepsTheSaver) {
  RunResult r = applyWithAgent("keep");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, resultLine(home_, kRealisticStoreSlots));
  EXPECT_EQ(restarts(log_), 1);
  EXPECT_EQ(backupCount(home_), 1u);
  EXPECT_EQ(zephSlotCount(), kRealisticStoreSlots);
}

TEST_F(ApplySequence, ReturnsTheSecondCountEvenIfTheAgentRevertsAgain) {
  RunResult r = applyWithAgent("revert-always");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, resultLine(home_, kRealisticStoreSlots));
  EXPECT_EQ(restarts(log_), 2);  // no third pass
  EXPECT_EQ(backupCount(home_), 2u);
  EXPECT_EQ(readBytes(storeFile(home_)), original_);
}

TEST_F(ApplySequence, DoesNotRecountWhenTheStoreIsGone) {
  RunResult r = applyWithAgent("remove");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, resultLine(home_, kRealisticStoreSlots));
  EXPECT_EQ(restarts(log_), 1);
  EXPECT_FALSE(fs::exists(storeFile(home_)));
}

TEST_F(ApplySequence, FlagCountsAnywhereAndARepeatedRunIsSafe) {
  fs::remove(storeFile(home_));
  RunResult first = runInNamespace("", {"first", "--apply", "--verbose"});
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, resultLine(home_, 0));  // no store: nothing to set
  // killall, finding no agent, says so on the shared standard error; the installer adds nothing.
  EXPECT_EQ(first.err.find("error:"), std::string::npos) << first.err;

  testing::writeBytes(storeFile(home_), original_);
  testing::writeBytes(testing::saverFolder(home_) / "Contents/stale", {'s'});
  for (int run = 0; run < 2; ++run) {
    RunResult r = runInNamespace("", {"--apply"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, resultLine(home_, kRealisticStoreSlots));
    EXPECT_EQ(zephSlotCount(), kRealisticStoreSlots);
  }
  EXPECT_FALSE(fs::exists(testing::saverFolder(home_) / "Contents/stale"));
}

TEST_F(ApplySequence, ResultLineThatCannotBeWrittenIsAFailure) {
  RunResult r = runInNamespace("", {"--apply"}, "/dev/full");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("error: couldn't print the result: No space left on device\n"), std::string::npos) << r.err;
  EXPECT_EQ(zephSlotCount(), kRealisticStoreSlots);  // the install itself stands
}

}  // namespace
}  // namespace zeph
