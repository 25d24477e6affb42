#include "app/apply.h"

#include <cstdint>

#include "base/process_values.h"
#include "platform/files.h"
#include "saver_install/install_saver.h"
#include "wallpaper_store/agent_restart.h"
#include "wallpaper_store/slot_count.h"
#include "wallpaper_store/store_rewrite.h"

namespace zeph {

std::int64_t applyEverything() {
  installSaver();
  selectLegacyModule();
  std::int64_t firstCount = rewriteWallpaperStore();
  restartAgent();
  if (!pathExists(storePath)) return firstCount;
  if (zephSlotCount() >= firstCount) return firstCount;
  // The agent reverted the store: one more pass, and no further check.
  std::int64_t secondCount = rewriteWallpaperStore();
  restartAgent();
  return secondCount;
}

}  // namespace zeph
