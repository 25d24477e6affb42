#ifndef ZEPH_BASE_SYSTEM_EFFECTS_H_
#define ZEPH_BASE_SYSTEM_EFFECTS_H_

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/dialog_backend.h"

namespace zeph {

/// The process's table of the system's effects: everything a run does to the
/// machine, or asks of it, that a test replaces with a double in process. An
/// empty entry means the system's own: the unit that owns the effect does it
/// itself. The entry sets the table once at start (setSystemEffects), filling
/// in the entries through which a higher layer serves a lower one; a test
/// replaces entries for a scope (ScopedSystemEffects). Only types every layer
/// has appear here, so any layer can call through it.
struct SystemEffects {
  /// Starts the program at an absolute path and waits for it: the exit
  /// status, or -1 when it cannot be started (platform/child_process.h run()).
  std::function<int(const std::string& program, const std::vector<std::string>& args)> runProgram;
  /// Ends the system's wallpaper agent and waits for it to let go of the
  /// store (wallpaper_store/agent_restart.h).
  std::function<void()> restartAgent;
  /// Waits `duration` (the pause after the agent is ended).
  std::function<void(std::chrono::duration<double> duration)> pause;
  /// The display alerts are drawn on (dialog/dialog.h dialogBackend()).
  std::function<DialogBackend&()> dialogBackend;
  /// The terminal device (st_rdev) the dialogs are drawn on right now, or
  /// none: a child's output bound for it goes to /dev/null instead. The
  /// dialogs tell the child-process runner through this entry.
  std::function<std::optional<dev_t>()> dialogScreenDevice;
  /// Asked about every 50 ms while a web lookup waits for its reply; false
  /// calls the lookup off (the user skipped it).
  std::function<bool()> keepWaitingForLookup;
  /// Whether the system keeps a wallpaper store (platform/system_version.h).
  std::function<bool()> systemKeepsWallpaperStore;
  /// The current host's legacy screen-saver selection as a property list
  /// (its bytes, any format), or none when nothing is selected
  /// (saver_install/legacy_selection.h).
  std::function<std::optional<std::vector<std::uint8_t>>()> legacySelection;
  /// Opens the system's Screen Saver settings (dialog/settings_pane.h).
  std::function<void()> openScreenSaverSettings;
  /// The interactive run's work between its confirmation and its completion
  /// alert: the apply sequence and the location setup (app/interactive_run.h).
  std::function<std::int64_t()> applyEverything;
  std::function<std::optional<std::string>()> runLocationSetup;
};

/// The table in force.
const SystemEffects& systemEffects();

/// Sets the table; the entry calls it once at start, before anything runs.
void setSystemEffects(SystemEffects effects);

/// Puts `effects` in force for the lifetime of this object, then puts back
/// the table it replaced. Scopes nest; the innermost one wins.
class ScopedSystemEffects {
 public:
  explicit ScopedSystemEffects(SystemEffects effects);
  /// The table in force with `change` applied to it: a test replaces the
  /// entries it names and keeps the rest.
  explicit ScopedSystemEffects(const std::function<void(SystemEffects&)>& change);
  ~ScopedSystemEffects();
  ScopedSystemEffects(const ScopedSystemEffects&) = delete;
  ScopedSystemEffects& operator=(const ScopedSystemEffects&) = delete;

 private:
  SystemEffects previous_;
};

}  // namespace zeph

#endif  // ZEPH_BASE_SYSTEM_EFFECTS_H_
