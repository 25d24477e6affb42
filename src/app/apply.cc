#include "app/apply.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "base/process_values.h"
#include "platform/child_process.h"
#include "platform/files.h"
#include "saver_install/install_saver.h"
#include "saver_install/legacy_selection.h"
#include "wallpaper_store/slot_count.h"
#include "wallpaper_store/store_document.h"
#include "wallpaper_store/store_rewrite.h"

namespace zeph {
namespace {

// The agent can write its in-memory state back over the store when it
// quits; the pause gives it time to do so before the store is counted again.
constexpr std::chrono::duration<double> kAgentPause{1.5};

// Long enough for another run's whole apply, agent pauses included.
constexpr std::chrono::seconds kLockWait{30};

void restartAgent() {
  run("/usr/bin/killall", {"WallpaperAgent"});  // no agent running is fine
  std::this_thread::sleep_for(kAgentPause);
}

bool storeStillThere() {
  try {
    return storeExists(storePath);
  } catch (const std::exception&) {
    return true;  // something is there: the re-count says what it holds
  }
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
  saveLegacySelection();
  selectLegacyModule();
  std::int64_t firstCount = rewriteWallpaperStore();
  restartAgent();
  if (!storeStillThere()) return firstCount;
  if (zephSlotCount() >= firstCount) return firstCount;
  // The agent reverted the store: one more pass, and no further check.
  std::int64_t secondCount = rewriteWallpaperStore();
  restartAgent();
  return secondCount;
}

StoreRestore uninstallEverything() {
  createFolders(screenSaversFolder());  // the lock lives on it
  ScopedFolderLock lock = lockHome();
  removeStaleStoreTemporaries();

  StoreRestore restore = restoreWallpaperStore();
  if (restore.slots > 0) {
    restartAgent();
    if (storeStillThere() && zephSlotCount() > 0) {
      // The agent put the saver back: one more pass, and no further check.
      StoreRestore again = restoreWallpaperStore();
      for (std::string& path : again.backupsUsed) {
        if (std::find(restore.backupsUsed.begin(), restore.backupsUsed.end(), path) == restore.backupsUsed.end()) {
          restore.backupsUsed.push_back(std::move(path));
        }
      }
      restore.slots = std::max(restore.slots, again.slots);
      restartAgent();
    }
  }
  // Only once no slot selects it can the bundle go.
  removeSaver();
  restoreLegacySelection();
  return restore;
}

}  // namespace zeph
