#include "base/process_values.h"

#include <utility>

namespace zeph {

std::string realHome;
std::string saverDest;
std::string storePath;
bool headless = false;
const std::string prefsSuite = "app.zeph.zeph";
const std::string installerUserAgent = "zeph-screensaver installer (https://zeph.app; support@zeph.app)";

void setProcessValues(std::string home, bool isHeadless) {
  realHome = std::move(home);
  saverDest = realHome + "/Library/Screen Savers/zeph.saver";
  storePath = realHome + "/Library/Application Support/com.apple.wallpaper/Store/Index.plist";
  headless = isHeadless;
}

}  // namespace zeph
