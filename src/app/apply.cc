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
#include "saver_install/install_saver.h"
#include "saver_install/legacy_selection.h"
#include "wallpaper_store/agent_restart.h"
#include "wallpaper_store/slot_count.h"
#include "wallpaper_store/store_backups.h"
#include "wallpaper_store/store_document.h"
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
bool agentReverted(const StoreSlotCounts& set) {
  return (storeStillThere(storePath) && zephSlotCountIn(storePath) < set.index) ||
         (storeStillThere(storePath2) && zephSlotCountIn(storePath2) < set.index2);
}

// Whether the agent put the saver back into either store after a removal.
bool zephSlotsLeft() { return zephSlotCountIn(storePath) + zephSlotCountIn(storePath2) > 0; }

}  // namespace

std::string applyResultLine(std::int64_t count) {
  return "installed " + saverDest + "; " + std::to_string(count) + " screensaver slots set to zeph";
}

ScopedFolderLock lockHome() {
  if (headless) {
    try {
      return ScopedFolderLock(screenSaversFolder(), kLockWait);
    } catch (const FolderBusy&) {
      throw std::runtime_error("another zeph-installer run is working on " + realHome);
    }
  }
  // An interactive run says what it waits for, and a Ctrl-C ends the wait.
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  std::optional<WaitStatus> status;
  for (;;) {
    try {
      return ScopedFolderLock(screenSaversFolder(), std::chrono::milliseconds(0));
    } catch (const FolderBusy&) {
      if (std::chrono::steady_clock::now() >= deadline) {
        throw std::runtime_error("another zeph-installer run is working on " + realHome);
      }
    }
    if (!status) status.emplace(kInstallingStatus + " \u2014 waiting for another zeph-installer run\u2026", "");
    (void)status->keepWaiting();  // Esc cannot call an install off
    dialogBackend().stopIfInterrupted();
    std::this_thread::sleep_for(kPauseSlice);
  }
}

std::int64_t applyEverything() {
  carriedSaver();  // a missing bundle stops the run before anything is made
  createFolders(screenSaversFolder());
  ScopedFolderLock lock = lockHome();
  if (!headless) dialogBackend().showStatus(kInstallingStatus);
  InterruptHold hold;
  removeStaleStoreTemporaries();

  installSaver();
  betweenSteps();
  saveLegacySelection();
  selectLegacyModule();
  betweenSteps();
  StoreSlotCounts counts = rewriteWallpaperStores();
  betweenSteps();
  restartAgentBetweenSteps();
  if (agentReverted(counts)) {
    // The agent reverted a store: one more pass over both, and no further check.
    counts = rewriteWallpaperStores();
    betweenSteps();
    restartAgentBetweenSteps();
  }
  if (counts.index + counts.index2 > 0) leaveAppliedMarker();
  return counts.index;
}

StoreRestore uninstallEverything() {
  createFolders(screenSaversFolder());  // the lock lives on it
  ScopedFolderLock lock = lockHome();
  removeStaleStoreTemporaries();

  StoreRestore restore = restoreWallpaperStores();
  if (restore.slots + restore.slots2 > 0) {
    restartAgent();
    if (zephSlotsLeft()) {
      // The agent put the saver back: one more pass, and no further check.
      StoreRestore again = restoreWallpaperStores();
      for (std::string& path : again.backupsUsed) {
        if (std::find(restore.backupsUsed.begin(), restore.backupsUsed.end(), path) == restore.backupsUsed.end()) {
          restore.backupsUsed.push_back(std::move(path));
        }
      }
      restore.slots = std::max(restore.slots, again.slots);
      restore.slots2 = std::max(restore.slots2, again.slots2);
      restartAgent();
    }
  }
  // Only once no slot selects it can the bundle go.
  removeSaver();
  restoreLegacySelection();
  return restore;
}

}  // namespace zeph
