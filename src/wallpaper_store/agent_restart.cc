#include "wallpaper_store/agent_restart.h"

#include <thread>

#include "base/system_effects.h"
#include "platform/child_process.h"

#ifndef ZEPH_KILLALL_PROGRAM
#define ZEPH_KILLALL_PROGRAM "/usr/bin/killall"
#endif

namespace zeph {

void restartAgent(const AgentPause& pause) {
  const SystemEffects& effects = systemEffects();
  if (effects.restartAgent) {
    effects.restartAgent();
    return;
  }
  run(ZEPH_KILLALL_PROGRAM, {"WallpaperAgent"});  // no agent running is fine
  if (effects.pause) {
    effects.pause(kAgentPause);
  } else if (pause) {
    pause(kAgentPause);
  } else {
    std::this_thread::sleep_for(kAgentPause);
  }
}

}  // namespace zeph
