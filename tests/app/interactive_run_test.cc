// The interactive run and the failure alert, answered by a scripted dialog,
// with the steps between the alerts replaced by counters in the effects table.

#include "app/interactive_run.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/installer_error.h"
#include "base/process_values.h"
#include "base/system_effects.h"
#include "location/location_setup.h"
#include "location/saver_preferences.h"
#include "support/sandbox.h"
#include "support/scripted_dialog.h"
#include "support/throwaway_suite.h"

namespace zeph {
namespace {

using test_support::press;
using test_support::ScriptedDialog;

using Buttons = std::vector<std::string>;

// Steps that count their calls; the location setup answers `place`.
struct CountingSteps {
  int applied = 0;
  int locationSetups = 0;
  int settingsOpened = 0;
  std::optional<std::string> place;
  bool applyFails = false;

  // Puts these steps in the effects table.
  void replace(SystemEffects& effects) {
    effects.applyEverything = [this]() -> std::int64_t {
      ++applied;
      if (applyFails) throw InstallerError(2, "Couldn't read the macOS screensaver settings file.");
      return 3;
    };
    effects.runLocationSetup = [this] {
      ++locationSetups;
      return place;
    };
    effects.openScreenSaverSettings = [this] { ++settingsOpened; };
  }
  std::function<void(SystemEffects&)> steps() {
    return [this](SystemEffects& effects) { replace(effects); };
  }
};

TEST(InteractiveRun, DecliningChangesNothing) {
  CountingSteps counting;
  ScriptedDialog dialog({press(1)});
  ScopedSystemEffects steps(counting.steps());
  EXPECT_EQ(runInteractive(), 0);

  ASSERT_EQ(dialog.shown().size(), 1u);
  const Alert& ask = dialog.shown()[0];
  EXPECT_EQ(ask.messageText, "Put zeph\u00B0 on every screen?");
  EXPECT_EQ(ask.informativeText,
            "This installs the zeph screensaver and turns it on for all of your monitors and desktops.");
  EXPECT_EQ(ask.buttons, (Buttons{"Install", "Quit"}));
  EXPECT_FALSE(ask.field);
  EXPECT_EQ(counting.applied, 0);
  EXPECT_EQ(counting.locationSetups, 0);
}

constexpr const char* kNoCityText =
    "zeph is now your screensaver on every screen. It starts when your Mac has been idle.\n\n"
    "You haven't set a city yet, so zeph will show the clock until you do \u2014 open System "
    "Settings \u2192 Screen Saver \u2192 zeph\u00B0 \u2192 Options to add one.";

// The completion names the place the location setup saved, or says there is
// none; its first button opens the settings, "Done" nothing.
TEST(InteractiveRun, CompletionNamesTheSavedPlaceOrSaysThereIsNone) {
  struct Case {
    std::optional<std::string> place;
    int button;
    const char* text;
  };
  const Case cases[] = {
      {std::nullopt, 1, kNoCityText},
      {"", 1, kNoCityText},
      {"Portland, Oregon", 0,
       "zeph is now your screensaver on every screen, showing the temperature in Portland, Oregon. It starts "
       "when your Mac has been idle \u2014 you can change the timing in System Settings."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.place.value_or("(none)"));
    CountingSteps counting;
    counting.place = c.place;
    ScriptedDialog dialog({press(0), press(c.button)});
    ScopedSystemEffects steps(counting.steps());
    EXPECT_EQ(runInteractive(), 0);
    EXPECT_EQ(counting.applied, 1);
    EXPECT_EQ(counting.locationSetups, 1);
    EXPECT_EQ(counting.settingsOpened, c.button == 0 ? 1 : 0);
    ASSERT_EQ(dialog.shown().size(), 2u);
    const Alert& done = dialog.shown()[1];
    EXPECT_EQ(done.messageText, "zeph\u00B0 is ready");
    EXPECT_EQ(done.informativeText, c.text);
    EXPECT_EQ(done.buttons, (Buttons{"Open Screen Saver Settings", "Done"}));
  }
}

// Where a wallpaper store decides, an apply that set no slot put the saver on
// no screen: the completion says so and how to get there.
TEST(InteractiveRun, CompletionTellsWhenNoScreenUsesTheSaverYet) {
  constexpr const char* kNoScreenYet =
      "zeph is installed, but no screen uses it yet. Log out and back in, then run the installer again to "
      "turn it on for every screen.";
  struct Case {
    std::int64_t slotsSet;
    bool keepsStore;
    std::optional<std::string> place;
    std::string text;
  };
  const Case cases[] = {
      {0, true, std::nullopt,
       std::string(kNoScreenYet) + "\n\nYou haven't set a city yet, so zeph will show the clock until you do "
                                   "\u2014 open System Settings \u2192 Screen Saver \u2192 zeph\u00B0 \u2192 "
                                   "Options to add one."},
      {0, true, "Oslo", std::string(kNoScreenYet) + " It will show the temperature in Oslo."},
      {0, false, std::nullopt, kNoCityText},  // macOS 13: the legacy selection alone decides
      {1, true, std::nullopt, kNoCityText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.slotsSet) + (c.keepsStore ? " store" : " no store"));
    CountingSteps counting;
    counting.place = c.place;
    ScopedSystemEffects steps([&](SystemEffects& effects) {
      counting.replace(effects);
      effects.systemKeepsWallpaperStore = [&] { return c.keepsStore; };
      effects.applyEverything = [&] { return c.slotsSet; };
    });
    ScriptedDialog dialog({press(0), press(1)});
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(runInteractive(), 0);
    // The last alert's texts stay on the terminal.
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "zeph\u00B0 is ready\n" + c.text + "\n");
    ASSERT_EQ(dialog.shown().size(), 2u);
    EXPECT_EQ(dialog.shown()[1].informativeText, c.text);
  }
}

// A first Ctrl-C while installing lets the install finish, then ends the run
// with what it did.
TEST(InteractiveRun, CtrlCDuringTheInstallEndsTheRunAfterItWithTheResult) {
  test_support::Sandbox home;
  setProcessValues(home.path().string(), false);
  CountingSteps counting;
  ScriptedDialog dialog({press(0)});
  ScopedSystemEffects steps([&](SystemEffects& effects) {
    counting.replace(effects);
    effects.applyEverything = [&]() -> std::int64_t {
      dialog.pressCtrlCWhileHeld();
      return 4;
    };
  });
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(runInteractive(), 130);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "interrupted after: installed " + saverDest + "; 4 screensaver slots set to zeph\n");
  EXPECT_EQ(counting.locationSetups, 0);
  EXPECT_EQ(dialog.shown().size(), 1u);
  EXPECT_EQ(dialog.sessionsEnded(), 1);
}

TEST(InteractiveRun, CityThatWasNotSavedIsNotNamedInTheCompletion) {
#ifdef __APPLE__
  GTEST_SKIP() << "CFPreferences ignores HOME, so a file in the home cannot make the save fail on Apple";
#endif
  // The real location setup on a home whose preferences cannot be written.
  test_support::Sandbox home;
  test_support::ThrowAwaySuite suite;
  setProcessValues(home.path().string(), false);
  test_support::writeBytes(home.path() / "Library/Preferences", {'x'});
  CountingSteps counting;
  ScopedSystemEffects steps([&](SystemEffects& effects) {
    counting.replace(effects);
    effects.runLocationSetup = [] {
      return runLocationSetup({.approximatePlace =
                                   [] {
                                     return std::optional<IpPlace>({52.52, 13.4, "Berlin", ""});
                                   },
                               .geocode = [](const std::string&) { return GeocodeResult(); }});
    };
  });
  ScriptedDialog dialog({press(0), press(0), press(1)});
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(runInteractive(), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr().rfind("error: couldn't save the city: ", 0), 0u);

  ASSERT_EQ(dialog.shown().size(), 3u);
  EXPECT_EQ(dialog.shown()[1].messageText, "Show weather for Berlin?");
  EXPECT_EQ(dialog.shown()[2].informativeText, kNoCityText);
  EXPECT_FALSE(storedLocationName());
}

TEST(InteractiveRun, NobodyToAskStopsBeforeAnythingChanges) {
  CountingSteps counting;
  ScriptedDialog dialog({}, "no terminal to ask on");
  ::testing::internal::CaptureStderr();
  ScopedSystemEffects steps(counting.steps());
  EXPECT_EQ(runInteractive(), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "error: no terminal to ask on; run zeph-installer --apply for an unattended install\n");
  EXPECT_TRUE(dialog.shown().empty());
  EXPECT_EQ(counting.applied, 0);
}

TEST(InteractiveRun, SaysInstallingWhileTheApplySequenceRuns) {
  CountingSteps counting;
  ScriptedDialog dialog({press(0), press(1)});
  std::vector<std::string> seenDuringApply;
  ScopedSystemEffects steps([&](SystemEffects& effects) {
    counting.replace(effects);
    effects.applyEverything = [&]() -> std::int64_t {
      seenDuringApply = dialog.events();
      return 1;
    };
  });
  EXPECT_EQ(runInteractive(), 0);
  // Not one the user can call off: the installation is not cut short.
  EXPECT_EQ(seenDuringApply,
            (std::vector<std::string>{"alert: Put zeph\u00B0 on every screen?", "status: Installing\u2026"}));
  EXPECT_EQ(dialog.events().back(), "alert: zeph\u00B0 is ready");
  // The screen is put back once, at the end of the run.
  EXPECT_EQ(dialog.sessionsEnded(), 1);
}

// The apply error reaches the caller before the location setup, with the
// screen still up for the failure alert, which ends it.
TEST(InteractiveRun, ApplyErrorReachesTheCallerWithTheScreenUpForTheFailureAlert) {
  CountingSteps counting;
  counting.applyFails = true;
  ScriptedDialog dialog({press(0), press(0)});
  try {
    ScopedSystemEffects steps(counting.steps());
    runInteractive();
    ADD_FAILURE() << "the apply error did not reach the caller";
  } catch (const InstallerError& e) {
    EXPECT_EQ(dialog.shown().size(), 1u);
    EXPECT_EQ(counting.locationSetups, 0);
    EXPECT_EQ(dialog.sessionsEnded(), 0);
    showFailureAlert(e.what());
  }
  EXPECT_EQ(dialog.events().back(), "alert: Something went wrong");
  EXPECT_EQ(dialog.sessionsEnded(), 1);
}

TEST(FailureAlert, ShowsTheMessageUnchangedWithTheDefaultButton) {
  ScriptedDialog dialog({press(0)});
  ::testing::internal::CaptureStderr();
  showFailureAlert("Couldn't read the file.\nsecond line");
  // Left on the terminal once the screen is closed.
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "error: Couldn't read the file.\nsecond line\n");
  EXPECT_EQ(dialog.sessionsEnded(), 1);

  ASSERT_EQ(dialog.shown().size(), 1u);
  const Alert& alert = dialog.shown()[0];
  EXPECT_EQ(alert.messageText, "Something went wrong");
  EXPECT_EQ(alert.informativeText, "Couldn't read the file.\nsecond line");
  EXPECT_TRUE(alert.buttons.empty());
  EXPECT_FALSE(alert.field);
}

TEST(FailureAlert, FallsBackToStandardErrorWhenNoAlertCanShow) {
  ScriptedDialog dialog({}, "no terminal to ask on");
  ::testing::internal::CaptureStderr();
  showFailureAlert("disk full");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "error: disk full\n");
  EXPECT_TRUE(dialog.shown().empty());
}

}  // namespace
}  // namespace zeph
