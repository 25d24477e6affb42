#ifndef ZEPH_BASE_PROCESS_VALUES_H_
#define ZEPH_BASE_PROCESS_VALUES_H_

#include <string>

namespace zeph {

// The process-wide values. The entry sets them once, in this order, before
// anything else runs (setProcessValues); every other unit only reads them,
// which is why they are visible as const. Tests set them the same way,
// pointing the home at a sandbox folder.
extern const std::string& realHome;   // the user's home folder, absolute, no trailing "/"
extern const std::string& saverDest;  // realHome + "/Library/Screen Savers/zeph.saver"
extern const std::string&
    storePath;  // realHome + "/Library/Application Support/com.apple.wallpaper/Store/Index.plist"
extern const std::string& storePath2;  // the second store macOS 26 keeps beside it: ".../Store/Index2.plist"
extern const bool& headless;           // "--apply" or "--uninstall" was among the arguments
extern const std::string& prefsSuite;  // "app.zeph.zeph"
extern const std::string installerUserAgent;  // User-Agent of every web request

/// Where the saver bundle and the wallpaper stores of the home folder `home` are.
std::string saverDestIn(const std::string& home);
std::string storePathIn(const std::string& home);
std::string storePath2In(const std::string& home);

/// Sets realHome and the values derived from it, then headless.
void setProcessValues(std::string home, bool isHeadless);

/// Names another preferences suite than "app.zeph.zeph": only tests do, on
/// Apple, where the suite lives in the user's real preferences whatever HOME says.
void setPrefsSuite(std::string suite);

/// Sets headless alone, for a run that ends before a home is known: the
/// fatal exit needs to know where to report.
void setHeadlessOnly(bool isHeadless);

}  // namespace zeph

#endif  // ZEPH_BASE_PROCESS_VALUES_H_
