#include "base/process_values.h"

#include <utility>

namespace zeph {

namespace {
std::string realHomeValue;
std::string saverDestValue;
std::string storePathValue;
std::string storePath2Value;
bool headlessValue = false;
std::string prefsSuiteValue = "app.zeph.zeph";
}  // namespace

const std::string& realHome = realHomeValue;
const std::string& saverDest = saverDestValue;
const std::string& storePath = storePathValue;
const std::string& storePath2 = storePath2Value;
const bool& headless = headlessValue;
const std::string& prefsSuite = prefsSuiteValue;
const std::string installerUserAgent = "zeph-screensaver installer (https://zeph.app; support@zeph.app)";

std::string saverDestIn(const std::string& home) { return home + "/Library/Screen Savers/zeph.saver"; }

std::string storePathIn(const std::string& home) {
  return home + "/Library/Application Support/com.apple.wallpaper/Store/Index.plist";
}

std::string storePath2In(const std::string& home) {
  return home + "/Library/Application Support/com.apple.wallpaper/Store/Index2.plist";
}

void setProcessValues(std::string home, bool isHeadless) {
  realHomeValue = std::move(home);
  saverDestValue = saverDestIn(realHomeValue);
  storePathValue = storePathIn(realHomeValue);
  storePath2Value = storePath2In(realHomeValue);
  headlessValue = isHeadless;
}

void setPrefsSuite(std::string suite) { prefsSuiteValue = std::move(suite); }

void setHeadlessOnly(bool isHeadless) { headlessValue = isHeadless; }

}  // namespace zeph
