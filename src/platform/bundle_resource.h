#ifndef ZEPH_PLATFORM_BUNDLE_RESOURCE_H_
#define ZEPH_PLATFORM_BUNDLE_RESOURCE_H_

#include <optional>
#include <string>

namespace zeph {

/// The saver bundle the installer carries (resource "zeph" of type "saver"),
/// found beside the running executable; none when it is not there.
std::optional<std::string> bundledSaverPath();

/// The saver bundle for the program file `executable`: with every symbolic
/// link resolved (a package manager's bin/ of links must not hide the real
/// install), <its folder>/../Resources/zeph.saver (the application-bundle
/// layout), then <its folder>/../share/zeph/zeph.saver (the installed and
/// build-tree layout); the first that is a folder. None when neither is.
std::optional<std::string> saverBundleBeside(const std::string& executable);

}  // namespace zeph

#endif  // ZEPH_PLATFORM_BUNDLE_RESOURCE_H_
