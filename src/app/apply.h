#ifndef ZEPH_APP_APPLY_H_
#define ZEPH_APP_APPLY_H_

#include <cstdint>

namespace zeph {

/// Installs the saver, selects it, rewrites the store, restarts the wallpaper
/// agent, re-counts after a pause and rewrites once more if the agent reverted
/// the store. Returns the count of the last rewrite; errors pass through unchanged.
std::int64_t applyEverything();

}  // namespace zeph

#endif  // ZEPH_APP_APPLY_H_
