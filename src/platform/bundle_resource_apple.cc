#include <CoreFoundation/CoreFoundation.h>

#include "platform/bundle_resource.h"

namespace zeph {

std::optional<std::string> bundledSaverPath() {
  CFBundleRef bundle = CFBundleGetMainBundle();  // not owned
  if (bundle == nullptr) return std::nullopt;
  CFURLRef url = CFBundleCopyResourceURL(bundle, CFSTR("zeph"), CFSTR("saver"), nullptr);
  if (url == nullptr) return std::nullopt;
  UInt8 path[4096];  // well above the platform's PATH_MAX of 1024
  Boolean converted = CFURLGetFileSystemRepresentation(url, true, path, sizeof path);
  CFRelease(url);
  if (!converted) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(path));
}

}  // namespace zeph
