#include "app/interactive_run.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/apply.h"
#include "base/system_effects.h"
#include "dialog/dialog.h"
#include "dialog/settings_pane.h"
#include "location/location_setup.h"
#include "platform/error_line.h"
#include "platform/system_version.h"

namespace zeph {

namespace {

Alert confirmationAlert() {
  Alert alert;
  alert.messageText = "Put zeph\u00B0 on every screen?";
  alert.informativeText =
      "This installs the zeph screensaver and turns it on for all of your monitors and desktops.";
  alert.buttons = {"Install", "Quit"};
  return alert;
}

constexpr const char* kNoCityYet =
    "You haven't set a city yet, so zeph will show the clock until you do \u2014 open System "
    "Settings \u2192 Screen Saver \u2192 zeph\u00B0 \u2192 Options to add one.";

Alert completionAlert(const std::optional<std::string>& place, std::int64_t slotsSet) {
  Alert alert;
  alert.messageText = "zeph\u00B0 is ready";
  const bool named = place && !place->empty();
  // Where a wallpaper store chooses the saver, no slot set means no screen
  // shows it yet (the store is made at the first login of a new account).
  if (slotsSet == 0 && systemKeepsWallpaperStore()) {
    alert.informativeText =
        "zeph is installed, but no screen uses it yet. Log out and back in, then run the installer again "
        "to turn it on for every screen.";
    alert.informativeText +=
        named ? " It will show the temperature in " + *place + "." : std::string("\n\n") + kNoCityYet;
  } else if (named) {
    alert.informativeText = "zeph is now your screensaver on every screen, showing the temperature in " +
                            *place +
                            ". It starts when your Mac has been idle \u2014 you can change the timing in "
                            "System Settings.";
  } else {
    alert.informativeText =
        std::string(
            "zeph is now your screensaver on every screen. It starts when your Mac has been idle.\n\n") +
        kNoCityYet;
  }
  alert.buttons = {"Open Screen Saver Settings", "Done"};
  return alert;
}

// Writes `text` to standard error in one write(2), retried when a signal interrupts it.
void writeToStandardError(std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

// The steps between the alerts: the effects table's where a test replaced them.
std::int64_t applyStep() {
  const auto& replaced = systemEffects().applyEverything;
  return replaced ? replaced() : applyEverything();
}

std::optional<std::string> locationSetupStep() {
  const auto& replaced = systemEffects().runLocationSetup;
  return replaced ? replaced() : runLocationSetup();
}

void openSettingsStep() {
  if (const auto& replaced = systemEffects().openScreenSaverSettings) {
    replaced();
  } else {
    openScreenSaverSettings();
  }
}

}  // namespace

int runInteractive() {
  // Nobody could answer the alerts (started from a script or a service
  // without --apply): stop before anything is changed instead of waiting forever.
  if (std::optional<std::string> reason = dialogBackend().unavailableReason()) {
    writeErrorLine(*reason + "; run zeph-installer --apply for an unattended install");
    return 1;
  }
  // What stays on the terminal once the screen is gone, below the command
  // that started the run.
  std::string record;
  int status = 0;
  {
    // One screen from the confirmation to the completion alert.
    DialogSession session;
    if (dialogBackend().runModal(confirmationAlert()).response != kFirstButtonResponse) return 0;
    dialogBackend().showStatus(kInstallingStatus);
    const std::int64_t slotsSet = applyStep();
    if (dialogBackend().interruptWasHeld()) {
      // Ctrl-C came while installing: the install was let finish; say what it did.
      record = "interrupted after: " + applyResultLine(slotsSet) + "\n";
      status = kInterruptedStatus;
    } else {
      std::optional<std::string> place = locationSetupStep();
      Alert completion = completionAlert(place, slotsSet);
      if (dialogBackend().runModal(completion).response == kFirstButtonResponse) {
        openSettingsStep();
      }
      record = completion.messageText + "\n" + completion.informativeText + "\n";
    }
  }
  writeToStandardError(record);
  return status;
}

void showFailureAlert(const std::string& message) {
  Alert alert;
  alert.messageText = "Something went wrong";
  alert.informativeText = message;
  DialogBackend& backend = dialogBackend();
  if (!backend.unavailableReason()) (void)backend.runModal(alert);
  // The alert is the run's last: the terminal is put back before the exit,
  // and before the error line lands on it, where it stays as the record (and
  // the only word of it when no alert could show).
  backend.endSession();
  writeErrorLine(message);
}

}  // namespace zeph
