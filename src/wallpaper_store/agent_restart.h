#ifndef ZEPH_WALLPAPER_STORE_AGENT_RESTART_H_
#define ZEPH_WALLPAPER_STORE_AGENT_RESTART_H_

namespace zeph {

/// Ends the system's wallpaper agent, which the system starts again and which
/// then reads the rewritten store, and pauses 1.5 seconds. No agent running is fine.
void restartAgent();

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_AGENT_RESTART_H_
