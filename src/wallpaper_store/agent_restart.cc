#include "wallpaper_store/agent_restart.h"

#include <chrono>
#include <stdexcept>
#include <thread>
#include <utility>

#include "platform/child_process.h"

#ifndef ZEPH_KILLALL_PROGRAM
#define ZEPH_KILLALL_PROGRAM "/usr/bin/killall"
#endif

namespace zeph {
namespace {

// The agent can write its in-memory state back over the store when it
// quits; the pause gives it time to do so before the store is counted again.
constexpr std::chrono::duration<double> kAgentPause{1.5};

ScopedAgentRestart* installedRestart = nullptr;  // set only by ScopedAgentRestart

}  // namespace

void restartAgent() {
  if (installedRestart != nullptr) {
    (*installedRestart)();
    return;
  }
  run(ZEPH_KILLALL_PROGRAM, {"WallpaperAgent"});  // no agent running is fine
  std::this_thread::sleep_for(kAgentPause);
}

ScopedAgentRestart::ScopedAgentRestart(std::function<void()> replacement)
    : replacement_(std::move(replacement)), previous_(installedRestart) {
  if (!replacement_) throw std::invalid_argument("ScopedAgentRestart needs a replacement");
  installedRestart = this;
}

ScopedAgentRestart::~ScopedAgentRestart() { installedRestart = previous_; }

}  // namespace zeph
