#ifndef ZEPH_TESTS_SUPPORT_BUILD_PATHS_H_
#define ZEPH_TESTS_SUPPORT_BUILD_PATHS_H_

/// Where the tests find the source tree, the build tree and the programs it
/// made. The paths are compiled into one object of their own rather than into
/// every test's flags, so that a compile cache shared between clones rebuilds
/// only that object for a clone at another path.

#include <filesystem>

namespace zeph::test_support {

std::filesystem::path sourceDir();
std::filesystem::path binaryDir();
std::filesystem::path installerPath();
std::filesystem::path storeToolPath();
/// The stand-in "WallpaperAgent".
std::filesystem::path fakeAgentPath();

}  // namespace zeph::test_support

#endif  // ZEPH_TESTS_SUPPORT_BUILD_PATHS_H_
