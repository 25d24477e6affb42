#include "base/process_values.h"

#include <utility>

namespace zeph {

namespace {
std::string realHomeValue;
std::string saverDestValue;
std::string storePathValue;
bool headlessValue = false;
}  // namespace

const std::string& realHome = realHomeValue;
const std::string& saverDest = saverDestValue;
const std::string& storePath = storePathValue;
const bool& headless = headlessValue;
const std::string prefsSuite = "app.zeph.zeph";
const std::string installerUserAgent = "zeph-screensaver installer (https://zeph.app; support@zeph.app)";

void setProcessValues(std::string home, bool isHeadless) {
  realHomeValue = std::move(home);
  saverDestValue = realHomeValue + "/Library/Screen Savers/zeph.saver";
  storePathValue = realHomeValue + "/Library/Application Support/com.apple.wallpaper/Store/Index.plist";
  headlessValue = isHeadless;
}

void setHeadlessOnly(bool isHeadless) { headlessValue = isHeadless; }

}  // namespace zeph
