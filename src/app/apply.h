#ifndef ZEPH_APP_APPLY_H_
#define ZEPH_APP_APPLY_H_

#include <cstdint>
#include <string>
#include <vector>

namespace zeph {

/// Installs the saver, selects it, rewrites the store, restarts the wallpaper
/// agent, re-counts after a pause and rewrites once more if the agent reverted
/// the store. Returns the count of the last rewrite; errors pass through unchanged.
std::int64_t applyEverything();

/// Starts the program at the absolute `path` with `args` (no shell, no PATH
/// search), inheriting streams, environment and working folder; waits for it
/// and returns its exit status, or -1 when it cannot be started.
int run(const std::string& path, const std::vector<std::string>& args);

/// Ends the run in failure: "error: " + message on standard error when
/// headless, the failure alert otherwise; then exit status 1.
[[noreturn]] void finish(const std::string& message);

}  // namespace zeph

#endif  // ZEPH_APP_APPLY_H_
