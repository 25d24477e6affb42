// The apply sequence in this process, with the agent restart and the legacy
// selection observed through the effects table: nothing is ended, nothing waits and
// no screen-saver setting of the machine is written.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/apply.h"
#include "base/installer_error.h"
#include "base/process_values.h"
#include "base/system_effects.h"
#include "support/sandbox.h"
#include "support/store_builders.h"
#include "wallpaper_store/agent_restart.h"
#include "wallpaper_store/slot_count.h"

namespace zeph {
namespace {

namespace fs = std::filesystem;
using test_support::backupNames;
using test_support::kRealisticStoreSlots;
using test_support::readBytes;
using test_support::Sandbox;
using test_support::storeFile;
using test_support::writeBytes;

// The agent restart as a list of what each restart does to the store; a
// restart past the end of the list leaves it alone.
class ObservedApply : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = box_.path() / "Zoë Smith";
    original_ = test_support::putPlist(storeFile(home_), test_support::realisticStore());
    setProcessValues(home_.string(), true);
  }

  std::int64_t apply(std::vector<std::function<void()>> agentActions) {
    ScopedSystemEffects effects([&, this](SystemEffects& replaced) {
      // The only program the sequence runs itself is the defaults tool.
      replaced.runProgram = [this](const std::string&, const std::vector<std::string>&) {
        events_.push_back("select");
        return 0;
      };
      replaced.restartAgent = [&, this] {
        events_.push_back("restart");
        if (restarts_ < agentActions.size()) agentActions[restarts_]();
        ++restarts_;
      };
    });
    return applyEverything();
  }

  Sandbox box_;
  fs::path home_;
  std::vector<std::uint8_t> original_;
  std::size_t restarts_ = 0;
  std::vector<std::string> events_;
};

// A store put back gets one more pass, never two, whose count is the result;
// the store it put back is backed up already and gets no second copy.
TEST_F(ObservedApply, RewritesOnceMoreOnlyWhenTheAgentRevertsTheStore) {
  const std::function<void()> revert = [this] { writeBytes(storeFile(home_), original_); };
  const std::function<void()> remove = [this] { fs::remove(storeFile(home_)); };
  enum class End { OnSaver, AsTheUserHadIt, Gone };
  struct Case {
    const char* name;
    std::vector<std::function<void()>> agent;
    std::size_t restarts;
    End end;
  };
  const Case cases[] = {
      {"kept: one pass", {}, 1, End::OnSaver},
      {"reverted once: a second pass", {revert}, 2, End::OnSaver},
      {"reverted again: no third pass", {revert, revert}, 2, End::AsTheUserHadIt},
      {"removed: not counted again", {remove}, 1, End::Gone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(home_);
    SetUp();  // a fresh home
    restarts_ = 0;
    events_.clear();
    EXPECT_EQ(apply(c.agent), kRealisticStoreSlots);
    std::vector<std::string> expected{"select"};
    expected.resize(1 + c.restarts, "restart");
    EXPECT_EQ(events_, expected);
    EXPECT_EQ(backupNames(home_).size(), 1u);
    for (const std::string& name : backupNames(home_)) {
      EXPECT_EQ(readBytes(test_support::backupFolder(home_) / name), original_) << name;
    }
    if (c.end == End::OnSaver) {
      EXPECT_EQ(zephSlotCount(), kRealisticStoreSlots);
    }
    if (c.end == End::AsTheUserHadIt) {
      EXPECT_EQ(readBytes(storeFile(home_)), original_);
    }
    if (c.end == End::Gone) {
      EXPECT_FALSE(fs::exists(storeFile(home_)));
    }
  }
}

// The login agent of a managed install applies until this marker is there.
TEST_F(ObservedApply, LeavesTheAppliedMarkerOnlyWhenASlotWasSet) {
  const fs::path marker = test_support::backupFolder(home_) / "applied";
  fs::remove(storeFile(home_));  // a new account: nothing to set yet
  EXPECT_EQ(apply({}), 0);
  EXPECT_FALSE(fs::exists(marker));
  writeBytes(storeFile(home_), original_);
  EXPECT_EQ(apply({}), kRealisticStoreSlots);
  EXPECT_TRUE(fs::is_regular_file(marker));
}

// macOS 13 keeps no store: a run that installed and selected the bundle has
// done its job, leaves the marker and never looks at a store or the agent;
// where a store is kept the marker still waits for a slot set.
TEST_F(ObservedApply, WhereNoStoreIsKeptTheSelectionCompletesTheRun) {
  const fs::path marker = test_support::backupFolder(home_) / "applied";
  struct Case {
    const char* name;
    bool keepsStore;
    bool storeThere;
    std::int64_t count;
    bool marked;
  };
  const Case cases[] = {
      {"macOS 13", false, false, 0, true},
      {"macOS 13, a store file left from elsewhere", false, true, 0, true},
      {"macOS 14 before the agent wrote its store", true, false, 0, false},
      {"macOS 14", true, true, kRealisticStoreSlots, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(home_);
    SetUp();
    if (!c.storeThere) fs::remove(storeFile(home_));
    restarts_ = 0;
    events_.clear();
    ScopedSystemEffects rule(
        [&](SystemEffects& replaced) { replaced.systemKeepsWallpaperStore = [&] { return c.keepsStore; }; });
    EXPECT_EQ(apply({}), c.count);
    EXPECT_EQ(fs::is_regular_file(marker), c.marked);
    EXPECT_TRUE(fs::is_directory(test_support::saverFolder(home_)));
    if (!c.keepsStore) {
      EXPECT_EQ(events_, std::vector<std::string>{"select"});
      EXPECT_TRUE(backupNames(home_).empty());
      if (c.storeThere) {
        EXPECT_EQ(readBytes(storeFile(home_)), original_);
      }
    }
  }
}

// Without a store the selection is all there is: a preferences tool that
// fails fails the run, and without the marker the login agent tries again.
TEST_F(ObservedApply, WhereNoStoreIsKeptAFailedSelectionFailsTheRun) {
  if (fs::exists("/usr/bin/defaults")) GTEST_SKIP() << "a defaults tool is installed here";
  ScopedSystemEffects effects([this](SystemEffects& replaced) {
    replaced.systemKeepsWallpaperStore = [] { return false; };
    replaced.restartAgent = [this] { events_.push_back("restart"); };
  });
  EXPECT_THROW(applyEverything(), std::runtime_error);
  EXPECT_FALSE(fs::exists(test_support::backupFolder(home_) / "applied"));
  EXPECT_TRUE(events_.empty());
}

TEST_F(ObservedApply, StoreThatCannotBeReadStopsBeforeAnyRestart) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><array/></plist>\n";
  writeBytes(storeFile(home_), std::vector<std::uint8_t>(xml.begin(), xml.end()));
  EXPECT_THROW(apply({}), InstallerError);
  EXPECT_EQ(events_, (std::vector<std::string>{"select"}));  // installed and selected, never restarted
  EXPECT_TRUE(fs::exists(test_support::saverFolder(home_) / "Contents/Info.plist"));
}

}  // namespace
}  // namespace zeph
