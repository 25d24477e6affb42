#include "support/build_paths.h"

namespace zeph::test_support {

std::filesystem::path sourceDir() { return ZEPH_SOURCE_DIR; }
std::filesystem::path binaryDir() { return ZEPH_BINARY_DIR; }
std::filesystem::path installerPath() { return ZEPH_INSTALLER_PATH; }
std::filesystem::path storeToolPath() { return ZEPH_STORE_TOOL_PATH; }
std::filesystem::path fakeAgentPath() { return ZEPH_FAKE_AGENT_PATH; }

}  // namespace zeph::test_support
