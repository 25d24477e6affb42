#include "wallpaper_store/agent_restart.h"

#include <stdexcept>
#include <thread>
#include <utility>

#include "platform/child_process.h"

#ifndef ZEPH_KILLALL_PROGRAM
#define ZEPH_KILLALL_PROGRAM "/usr/bin/killall"
#endif

namespace zeph {
namespace {

ScopedAgentRestart* installedRestart = nullptr;  // set only by ScopedAgentRestart

}  // namespace

void restartAgent(const AgentPause& pause) {
  if (installedRestart != nullptr) {
    (*installedRestart)();
    return;
  }
  run(ZEPH_KILLALL_PROGRAM, {"WallpaperAgent"});  // no agent running is fine
  if (pause) {
    pause(kAgentPause);
  } else {
    std::this_thread::sleep_for(kAgentPause);
  }
}

ScopedAgentRestart::ScopedAgentRestart(std::function<void()> replacement)
    : replacement_(std::move(replacement)), previous_(installedRestart) {
  if (!replacement_) throw std::invalid_argument("ScopedAgentRestart needs a replacement");
  installedRestart = this;
}

ScopedAgentRestart::~ScopedAgentRestart() { installedRestart = previous_; }

}  // namespace zeph
