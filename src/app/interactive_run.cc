#include "app/interactive_run.h"

#include "app/apply.h"
#include "app/interactive_run_internal.h"
#include "dialog/dialog.h"
#include "dialog/settings_pane.h"
#include "location/location_setup.h"
#include "platform/error_line.h"

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

Alert completionAlert(const std::optional<std::string>& place) {
  Alert alert;
  alert.messageText = "zeph\u00B0 is ready";
  // Only a place that was stored is named; an empty name would read "in .".
  if (place && !place->empty()) {
    alert.informativeText = "zeph is now your screensaver on every screen, showing the temperature in " +
                            *place +
                            ". It starts when your Mac has been idle \u2014 you can change the timing in "
                            "System Settings.";
  } else {
    alert.informativeText =
        "zeph is now your screensaver on every screen. It starts when your Mac has been idle.\n\n"
        "You haven't set a city yet, so zeph will show the clock until you do \u2014 open System "
        "Settings \u2192 Screen Saver \u2192 zeph\u00B0 \u2192 Options to add one.";
  }
  alert.buttons = {"Open Screen Saver Settings", "Done"};
  return alert;
}

}  // namespace

InteractiveSteps realInteractiveSteps() {
  return InteractiveSteps{
      .applyEverything = [] { return applyEverything(); },
      .runLocationSetup = [] { return runLocationSetup(); },
      .openScreenSaverSettings = [] { openScreenSaverSettings(); },
  };
}

int runInteractive(const InteractiveSteps& steps) {
  // Nobody could answer the alerts (started from a script or a service
  // without --apply): stop before anything is changed instead of waiting forever.
  if (std::optional<std::string> reason = dialogBackend().unavailableReason()) {
    writeErrorLine(*reason + "; run zeph-installer --apply for an unattended install");
    return 1;
  }
  // One screen from the confirmation to the completion alert.
  DialogSession session;
  if (dialogBackend().runModal(confirmationAlert()).response != kFirstButtonResponse) return 0;
  dialogBackend().showStatus("Installing\u2026");
  steps.applyEverything();
  std::optional<std::string> place = steps.runLocationSetup();
  if (dialogBackend().runModal(completionAlert(place)).response == kFirstButtonResponse) {
    steps.openScreenSaverSettings();
  }
  return 0;
}

int runInteractive() { return runInteractive(realInteractiveSteps()); }

void showFailureAlert(const std::string& message) {
  Alert alert;
  alert.messageText = "Something went wrong";
  alert.informativeText = message;
  DialogBackend& backend = dialogBackend();
  // The message must reach the user somehow; standard error is the last resort.
  bool shown = !backend.unavailableReason() && backend.runModal(alert).response != kAlertNotShown;
  // The alert is the run's last: the terminal is put back before the exit,
  // and before a message on standard error could land on the screen.
  backend.endSession();
  if (!shown) writeErrorLine(message);
}

}  // namespace zeph
