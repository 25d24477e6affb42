// The effects table is the one seam a test needs: every effect of a whole
// interactive run goes through it, so a run with every entry replaced starts
// no program, ends no process, shows nothing and reaches no service but the
// test's own, and changes only its sandbox home.

#include "base/system_effects.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/apply.h"
#include "app/interactive_run.h"
#include "base/process_values.h"
#include "location/approximate_place_internal.h"
#include "location/geocode_internal.h"
#include "location/location_setup.h"
#include "support/http_server.h"
#include "support/sandbox.h"
#include "support/scripted_dialog.h"
#include "support/store_builders.h"
#include "support/throwaway_suite.h"
#include "wallpaper_store/agent_restart.h"

namespace zeph {
namespace {

namespace fs = std::filesystem;
using test_support::press;
using test_support::ScriptedDialog;

using Call = std::vector<std::string>;  // a program and its arguments

TEST(SystemEffects, AWholeRunWithEveryEffectReplacedStaysInItsSandbox) {
  test_support::Sandbox box;
  const fs::path home = box.path() / "home";
  test_support::putPlist(test_support::storeFile(home), test_support::realisticStore());
  test_support::ThrowAwaySuite suite;
  setProcessValues(home.string(), false);
  // The IP lookup waits for a service that never answers, until the table
  // says to stop waiting.
  test_support::LoopbackHttpServer ipService(test_support::neverAnswering());
  const std::string ipBase = ipService.origin() + "/";

  std::set<std::string> used;
  std::vector<Call> programs;
  // Install; cancel the city prompt; open the settings from the completion.
  ScriptedDialog dialog({press(0), press(1), press(0)});
  ScopedSystemEffects effects([&](SystemEffects& replaced) {
    replaced.runProgram = [&](const std::string& program, const std::vector<std::string>& args) {
      used.insert("runProgram");
      Call call{program};
      call.insert(call.end(), args.begin(), args.end());
      programs.push_back(call);
      return 0;
    };
    replaced.restartAgent = [&] { used.insert("restartAgent"); };
    replaced.pause = [&](std::chrono::duration<double>) { used.insert("pause"); };
    const auto scripted = replaced.dialogBackend;  // the scripted dialog's
    replaced.dialogBackend = [&, scripted]() -> DialogBackend& {
      used.insert("dialogBackend");
      return scripted();
    };
    replaced.dialogScreenDevice = [&]() -> std::optional<dev_t> {
      used.insert("dialogScreenDevice");
      return std::nullopt;
    };
    replaced.keepWaitingForLookup = [&] {
      used.insert("keepWaitingForLookup");
      return false;
    };
    replaced.systemKeepsWallpaperStore = [&] {
      used.insert("systemKeepsWallpaperStore");
      return true;
    };
    replaced.legacySelection = [&]() -> std::optional<std::vector<std::uint8_t>> {
      used.insert("legacySelection");
      return std::nullopt;
    };
    replaced.openScreenSaverSettings = [&] { used.insert("openScreenSaverSettings"); };
    replaced.applyEverything = [&] {
      used.insert("applyEverything");
      return applyEverything();
    };
    replaced.runLocationSetup = [&] {
      used.insert("runLocationSetup");
      return runLocationSetup(
          {.approximatePlace = [&] { return detail::approximatePlaceFrom(ipBase); },
           .geocode = [](const std::string& q) { return GeocodeResult{detail::coordinateShortcut(q)}; }});
    };
  });

  ::testing::internal::CaptureStderr();
  EXPECT_EQ(runInteractive(), 0);
  (void)::testing::internal::GetCapturedStderr();

  // Every effect the run has went through the table; the pause and the
  // terminal device belong to the real agent restart and the real runner,
  // which the doubles stand in for.
  EXPECT_EQ(used, (std::set<std::string>{"applyEverything", "dialogBackend", "keepWaitingForLookup",
                                         "legacySelection", "openScreenSaverSettings", "restartAgent",
                                         "runLocationSetup", "runProgram", "systemKeepsWallpaperStore"}));
  // The one program the run starts itself is the defaults tool, and it only
  // reached the double.
  ASSERT_EQ(programs.size(), 1u);
  EXPECT_EQ(std::vector<std::string>(programs[0].begin() + 1, programs[0].begin() + 3),
            (std::vector<std::string>{"-currentHost", "write"}));
  // What the run made is in the sandbox home.
  EXPECT_TRUE(fs::is_directory(test_support::saverFolder(home)));
  EXPECT_FALSE(test_support::backupNames(home).empty());
  ASSERT_EQ(dialog.shown().size(), 3u);
  EXPECT_EQ(dialog.shown()[2].messageText, "zeph\u00B0 is ready");
}

// Left empty, the agent restart is the system's own: the build's killall,
// then the pause, both through the table.
TEST(SystemEffects, TheRealAgentRestartRunsAndPausesThroughTheTable) {
  std::vector<Call> programs;
  std::vector<double> pauses;
  ScopedSystemEffects effects([&](SystemEffects& replaced) {
    replaced.runProgram = [&](const std::string& program, const std::vector<std::string>& args) {
      Call call{program};
      call.insert(call.end(), args.begin(), args.end());
      programs.push_back(call);
      return 1;  // no agent running
    };
    replaced.pause = [&](std::chrono::duration<double> duration) { pauses.push_back(duration.count()); };
  });
  restartAgent();
  restartAgent([](std::chrono::duration<double>) { ADD_FAILURE() << "the table's pause comes first"; });
  ASSERT_EQ(programs.size(), 2u);
  EXPECT_EQ(programs[0].front().front(), '/');
  EXPECT_EQ(programs[0].back(), "WallpaperAgent");
  EXPECT_EQ(pauses, (std::vector<double>{kAgentPause.count(), kAgentPause.count()}));
}

// A scope changes the entries it names, keeps the rest, and puts the whole
// table back when it ends.
TEST(SystemEffects, ScopesNestAndPutTheTableBack) {
  EXPECT_FALSE(systemEffects().restartAgent);
  int outer = 0;
  {
    ScopedSystemEffects outerScope([&](SystemEffects& replaced) {
      replaced.restartAgent = [&] { ++outer; };
      replaced.systemKeepsWallpaperStore = [] { return false; };
    });
    {
      ScopedSystemEffects innerScope(SystemEffects{});
      EXPECT_FALSE(systemEffects().restartAgent);
      EXPECT_FALSE(systemEffects().systemKeepsWallpaperStore);
    }
    ASSERT_TRUE(systemEffects().systemKeepsWallpaperStore);
    EXPECT_FALSE(systemEffects().systemKeepsWallpaperStore());
    restartAgent();
  }
  EXPECT_EQ(outer, 1);
  EXPECT_FALSE(systemEffects().restartAgent);
  EXPECT_FALSE(systemEffects().systemKeepsWallpaperStore);
}

}  // namespace
}  // namespace zeph
