#include "app/apply.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <thread>

#include "base/process_values.h"
#include "platform/dialog.h"
#include "platform/files.h"
#include "saver_install/install_saver.h"
#include "wallpaper_store/agent_restart.h"
#include "wallpaper_store/slot_count.h"
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

// In an interactive run a Ctrl-C ends the run here, between whole steps,
// never in the middle of a file being written. A headless run keeps the
// signals' default actions and has no display to look after.
void betweenSteps() {
  if (!headless) dialogBackend().stopIfInterrupted();
}

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
    std::this_thread::sleep_for(kPauseSlice);
  }
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

}  // namespace

ScopedFolderLock lockHome() {
  try {
    return ScopedFolderLock(screenSaversFolder(), kLockWait);
  } catch (const FolderBusy&) {
    throw std::runtime_error("another zeph-installer run is working on " + realHome);
  }
}

std::int64_t applyEverything() {
  carriedSaver();  // a missing bundle stops the run before anything is made
  createFolders(screenSaversFolder());
  ScopedFolderLock lock = lockHome();
  removeStaleStoreTemporaries();

  installSaver();
  betweenSteps();
  selectLegacyModule();
  betweenSteps();
  StoreSlotCounts firstCounts = rewriteWallpaperStores();
  betweenSteps();
  restartAgentBetweenSteps();
  if (!agentReverted(firstCounts)) return firstCounts.index;
  // The agent reverted a store: one more pass over both, and no further check.
  StoreSlotCounts secondCounts = rewriteWallpaperStores();
  betweenSteps();
  restartAgentBetweenSteps();
  return secondCounts.index;
}

}  // namespace zeph
