#include "app/apply.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <thread>

#include "base/process_values.h"
#include "platform/child_process.h"
#include "platform/dialog.h"
#include "saver_install/install_saver.h"
#include "wallpaper_store/slot_count.h"
#include "wallpaper_store/store_rewrite.h"

namespace zeph {
namespace {

// The agent can write its in-memory state back over the store when it
// quits; the pause gives it time to do so before the store is counted again.
constexpr std::chrono::duration<double> kAgentPause{1.5};
// How often an interactive run's screen is looked after during the pause.
constexpr std::chrono::milliseconds kPauseSlice{50};

// In an interactive run a Ctrl-C ends the run here, between whole steps,
// never in the middle of a file being written. A headless run keeps the
// signals' default actions and has no display to look after.
void betweenSteps() {
  if (!headless) dialogBackend().stopIfInterrupted();
}

void pause() {
  if (headless) {
    std::this_thread::sleep_for(kAgentPause);
    return;
  }
  // The status stays drawn (a resize redraws it) and Ctrl-C is answered.
  const auto end = std::chrono::steady_clock::now() + kAgentPause;
  while (std::chrono::steady_clock::now() < end) {
    (void)dialogBackend().keepWaiting();  // Esc cannot cut an installation short
    std::this_thread::sleep_for(kPauseSlice);
  }
}

void restartAgent() {
  run("/usr/bin/killall", {"WallpaperAgent"});  // no agent running is fine
  betweenSteps();
  pause();
  betweenSteps();
}

bool fileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::int64_t applyEverything() {
  installSaver();
  betweenSteps();
  selectLegacyModule();
  betweenSteps();
  std::int64_t firstCount = rewriteWallpaperStore();
  betweenSteps();
  restartAgent();
  if (!fileExists(storePath)) return firstCount;
  if (zephSlotCount() >= firstCount) return firstCount;
  // The agent reverted the store: one more pass, and no further check.
  std::int64_t secondCount = rewriteWallpaperStore();
  betweenSteps();
  restartAgent();
  return secondCount;
}

}  // namespace zeph
