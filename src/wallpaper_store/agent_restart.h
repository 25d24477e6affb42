#ifndef ZEPH_WALLPAPER_STORE_AGENT_RESTART_H_
#define ZEPH_WALLPAPER_STORE_AGENT_RESTART_H_

#include <chrono>
#include <functional>

namespace zeph {

/// The agent can write its in-memory state back over the store when it
/// quits; this pause gives it time to do so before the store is counted again.
inline constexpr std::chrono::duration<double> kAgentPause{1.5};

/// Waits for `duration`; an interactive run keeps its screen alive meanwhile.
using AgentPause = std::function<void(std::chrono::duration<double> duration)>;

/// Ends the system's wallpaper agent, which the system starts again and which
/// then reads the rewritten store, and pauses kAgentPause through `pause` (a
/// plain sleep when empty). No agent running is fine. The program is the
/// build's killall (/usr/bin/killall unless a test build names a stand-in).
/// The effects table's restartAgent, when set, runs instead, and its pause,
/// when set, instead of `pause`.
void restartAgent(const AgentPause& pause = {});

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_AGENT_RESTART_H_
