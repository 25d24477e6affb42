#include "app/apply.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <stdexcept>

#include "base/process_values.h"
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

}  // namespace zeph
