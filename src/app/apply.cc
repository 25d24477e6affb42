#include "app/apply.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <thread>

#include "base/process_values.h"
#include "platform/child_process.h"
#include "saver_install/install_saver.h"
#include "wallpaper_store/slot_count.h"
#include "wallpaper_store/store_rewrite.h"

namespace zeph {
namespace {

// The agent can write its in-memory state back over the store when it
// quits; the pause gives it time to do so before the store is counted again.
constexpr std::chrono::duration<double> kAgentPause{1.5};

void restartAgent() {
  run("/usr/bin/killall", {"WallpaperAgent"});  // no agent running is fine
  std::this_thread::sleep_for(kAgentPause);
}

bool fileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::int64_t applyEverything() {
  installSaver();
  selectLegacyModule();
  std::int64_t firstCount = rewriteWallpaperStore();
  restartAgent();
  if (!fileExists(storePath)) return firstCount;
  if (zephSlotCount() >= firstCount) return firstCount;
  // The agent reverted the store: one more pass, and no further check.
  std::int64_t secondCount = rewriteWallpaperStore();
  restartAgent();
  return secondCount;
}

}  // namespace zeph
