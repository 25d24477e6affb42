#include "app/apply.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "base/process_values.h"
#include "dialog/dialog.h"
#include "dialog/wait_status.h"
#include "platform/files.h"
#include "platform/system_version.h"
#include "plist/error.h"
#include "saver_install/install_saver.h"
#include "saver_install/legacy_selection.h"
#include "wallpaper_store/agent_restart.h"
#include "wallpaper_store/slot_count.h"
#include "wallpaper_store/store_backups.h"
#include "wallpaper_store/store_change.h"
#include "wallpaper_store/store_document.h"
#include "wallpaper_store/store_restore.h"
#include "wallpaper_store/store_rewrite.h"

namespace zeph {
namespace {

// Long enough for another run's whole apply, agent pauses included.
constexpr std::chrono::seconds kLockWait{30};

bool storeStillThere(const std::string& path) {
  try {
    return storeExists(path);
  } catch (const std::exception&) {
    return true;  // something is there: the re-count says what it holds
  }
}

// In an interactive run a second Ctrl-C (or another signal) ends the run
// here, between whole steps, never in the middle of a file being written; the
// first one only says that the install finishes first. A headless run keeps
// the signals' default actions and has no display to look after.
// Whether the user has been told that the install finishes first.
bool finishingShown = false;

void betweenSteps() {
  if (headless) return;
  DialogBackend& dialog = dialogBackend();
  dialog.stopIfInterrupted();
  if (dialog.interruptWasHeld() && !finishingShown) {
    finishingShown = true;
    dialog.showStatus("Finishing the install \u2014 Ctrl-C again to stop now");
  }
}

// Once begun, an install is better finished than left half-way: a first
// Ctrl-C waits for it (the caller reports what was done).
class InterruptHold {
 public:
  InterruptHold() {
    finishingShown = false;
    if (!headless) dialogBackend().holdInterrupt(true);
  }
  ~InterruptHold() {
    if (!headless) dialogBackend().holdInterrupt(false);
  }
  InterruptHold(const InterruptHold&) = delete;
  InterruptHold& operator=(const InterruptHold&) = delete;
};

// How often an interactive run's screen is looked after during the pause.
constexpr std::chrono::milliseconds kPauseSlice{50};

void pause(std::chrono::duration<double> duration) {
  if (headless) {
    std::this_thread::sleep_for(duration);
    return;
  }
  // The status stays drawn (a resize redraws it) and Ctrl-C is answered.
  const auto end = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < end) {
    (void)dialogBackend().keepWaiting();  // Esc cannot cut an installation short
    betweenSteps();
    std::this_thread::sleep_for(kPauseSlice);
  }
}

// Tells the login agent of a managed install that this home has had zeph
// applied, so that it never applies again what a person later undid. Best
// effort: without it the agent applies once more at the next login.
void leaveAppliedMarker() {
  try {
    createFolders(backupFolder());
  } catch (const std::exception&) {
    return;
  }
  const std::string marker = backupFolder() + "/applied";
  int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd >= 0) ::close(fd);
}

void restartAgentBetweenSteps() {
  restartAgent(pause);
  betweenSteps();
}

// Whether the agent took back some of what the rewrite set, in either store.
bool agentReverted(const PerStore& set) {
  return (storeStillThere(storePath) && zephSlotCount(storePath) < set.index) ||
         (storeStillThere(storePath2) && zephSlotCount(storePath2) < set.index2);
}

std::size_t backupCount() { return storeBackups(firstStore()).size() + storeBackups(secondStore()).size(); }

// A damaged store stops the run with the store as it was, but not always
// before anything else was done: its error names what was (`done`, may be
// empty), says what became of the store (`storeNow`) and where the backups
// are, so the person who reads it knows where things stand. The installer
// error for a store that is no dictionary keeps its fixed text.
template <typename Change>
auto sayingWhatWasDone(std::string done, const std::string& storeNow, Change change) -> decltype(change()) {
  const std::size_t backupsBefore = backupCount();
  try {
    return change();
  } catch (const plist::Error& e) {
    std::string message = e.what();
    if (backupCount() > backupsBefore) {
      done += done.empty() ? "a backup of the store was taken" : ", and the store backed up";
    }
    if (!done.empty()) message += "; " + done;
    throw plist::Error(message + "; " + storeNow + "; backups are in " + backupFolder());
  }
}

constexpr const char* kStoreUnchanged = "the store is unchanged";

// A failure once the stores were renamed into place (their folder's flush)
// does not stop the steps that must follow a change; the run fails after them.
void failIfLate(const std::string& lateFailure) {
  if (!lateFailure.empty()) throw std::runtime_error(lateFailure + "; the stores were already changed");
}

// Whether the agent put the saver back into either store after a removal.
bool zephSlotsLeft() { return zephSlotCount(storePath) + zephSlotCount(storePath2) > 0; }

}  // namespace

std::string applyResultLine(std::int64_t count) {
  if (!systemKeepsWallpaperStore())
    return "installed " + saverDest + "; selected as the screen saver (macOS 13: no wallpaper store)";
  return "installed " + saverDest + "; " + std::to_string(count) + " screensaver slots set to zeph";
}

ScopedRunLock lockHome() {
  const std::string lockFile = screenSaversFolder() + "/.zeph.lock";
  if (headless) {
    try {
      return ScopedRunLock(lockFile, kLockWait);
    } catch (const LockBusy&) {
      throw std::runtime_error("another zeph-installer run is working on " + realHome);
    }
  }
  // An interactive run says what it waits for, keeps its display answering
  // and lets a Ctrl-C end the wait.
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  std::optional<WaitStatus> status;
  for (;;) {
    try {
      return ScopedRunLock(lockFile, std::chrono::milliseconds(0));
    } catch (const LockBusy&) {
      if (std::chrono::steady_clock::now() >= deadline) {
        throw std::runtime_error("another zeph-installer run is working on " + realHome);
      }
    }
    if (!status)
      status.emplace(kInstallingStatus + " \u2014 waiting for another zeph-installer run\u2026",
                     WaitKind::MustFinish);
    (void)status->keepWaiting();  // Esc cannot call an install off
    dialogBackend().stopIfInterrupted();
    std::this_thread::sleep_for(kPauseSlice);
  }
}

std::int64_t applyEverything() {
  carriedSaver();  // a missing bundle stops the run before anything is made
  createFolders(screenSaversFolder());
  ScopedRunLock lock = lockHome();
  if (!headless) dialogBackend().showStatus(kInstallingStatus);
  InterruptHold hold;
  removeStaleStoreTemporaries();
  restoreInterruptedSaver();

  installSaver();
  betweenSteps();
  saveLegacySelection();
  const bool selected = selectLegacyModule();
  betweenSteps();
  if (!systemKeepsWallpaperStore()) {
    // macOS 13 has no store and no agent to restart: the legacy selection is
    // the screen saver, and once it names the bundle the run has done its job.
    if (!selected)
      throw std::runtime_error("couldn't select zeph as the screen saver: the preferences tool failed");
    leaveAppliedMarker();
    return 0;
  }
  StoreChangeReport rewrite = sayingWhatWasDone("zeph.saver was already installed and selected",
                                                kStoreUnchanged, rewriteWallpaperStore);
  std::string lateFailure = rewrite.lateFailure;
  betweenSteps();
  restartAgentBetweenSteps();
  if (agentReverted(rewrite.slots)) {
    // The agent reverted a store: one more pass over both, and no further check.
    rewrite = sayingWhatWasDone(
        "zeph.saver was already installed and selected, the store set and the wallpaper agent restarted",
        "the store is as the agent left it", rewriteWallpaperStore);
    if (lateFailure.empty()) lateFailure = rewrite.lateFailure;
    betweenSteps();
    restartAgentBetweenSteps();
  }
  if (rewrite.slots.both() > 0) leaveAppliedMarker();
  failIfLate(lateFailure);
  return rewrite.slots.index;
}

bool refreshInstalledSaver() {
  carriedSaver();
  if (!saverInstalled()) return false;  // nothing made, not even the lock's folder
  ScopedRunLock lock = lockHome();
  if (!saverInstalled()) return false;  // an uninstall got there first
  installSaver();
  return true;
}

StoreChangeReport uninstallEverything() {
  createFolders(screenSaversFolder());  // the lock lives in it
  ScopedRunLock lock = lockHome();
  removeStaleStoreTemporaries();
  restoreInterruptedSaver();

  StoreChangeReport restore = sayingWhatWasDone("", kStoreUnchanged, restoreWallpaperStore);
  if (restore.slots.both() > 0) {
    restartAgent();
    if (zephSlotsLeft()) {
      // The agent put the saver back: one more pass, and no further check.
      StoreChangeReport again = restoreWallpaperStore();
      for (std::string& path : again.backupsUsed) {
        if (std::find(restore.backupsUsed.begin(), restore.backupsUsed.end(), path) ==
            restore.backupsUsed.end()) {
          restore.backupsUsed.push_back(std::move(path));
        }
      }
      restore.slots.index = std::max(restore.slots.index, again.slots.index);
      restore.slots.index2 = std::max(restore.slots.index2, again.slots.index2);
      if (restore.lateFailure.empty()) restore.lateFailure = again.lateFailure;
      restartAgent();
    }
  }
  // Only once no slot selects it can the bundle go.
  removeSaver();
  restoreLegacySelection();
  failIfLate(restore.lateFailure);
  return restore;
}

}  // namespace zeph
