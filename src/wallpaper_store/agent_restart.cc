#include "wallpaper_store/agent_restart.h"

#include <chrono>
#include <thread>

#include "platform/child_process.h"

namespace zeph {
namespace {

// The agent can write its in-memory state back over the store when it
// quits; the pause gives it time to do so before the store is counted again.
constexpr std::chrono::duration<double> kAgentPause{1.5};

}  // namespace

void restartAgent() {
  run("/usr/bin/killall", {"WallpaperAgent"});  // no agent running is fine
  std::this_thread::sleep_for(kAgentPause);
}

}  // namespace zeph
