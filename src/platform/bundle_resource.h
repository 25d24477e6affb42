#ifndef ZEPH_PLATFORM_BUNDLE_RESOURCE_H_
#define ZEPH_PLATFORM_BUNDLE_RESOURCE_H_

#include <optional>
#include <string>

namespace zeph {

/// The path of the saver bundle the installer carries (resource "zeph" of
/// type "saver"), or none when it is not there. On Apple, the main bundle's
/// resource; elsewhere <executable's folder>/../Resources/zeph.saver, then
/// <executable's folder>/../share/zeph/zeph.saver.
std::optional<std::string> bundledSaverPath();

}  // namespace zeph

#endif  // ZEPH_PLATFORM_BUNDLE_RESOURCE_H_
