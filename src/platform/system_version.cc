#include "platform/system_version.h"

#if defined(__APPLE__)
#include <sys/sysctl.h>

#include <cstdlib>
#endif

#include <cstddef>

#include "base/system_effects.h"

namespace zeph {
namespace {

bool readSystemKeepsWallpaperStore() {
#if defined(__APPLE__)
  // The first macOS whose WallpaperAgent keeps Index.plist.
  constexpr long kFirstStoreKeepingMajor = 14;
  // "13.6.1", "14.0", "26.0": the major version leads.
  char version[32] = {};
  std::size_t size = sizeof version - 1;
  if (::sysctlbyname("kern.osproductversion", version, &size, nullptr, 0) != 0) return true;
  char* end = nullptr;
  const long major = std::strtol(version, &end, 10);
  if (end == version) return true;
  return major >= kFirstStoreKeepingMajor;
#else
  return true;
#endif
}

}  // namespace

bool systemKeepsWallpaperStore() {
  if (const auto& replaced = systemEffects().systemKeepsWallpaperStore) return replaced();
  static const bool keeps = readSystemKeepsWallpaperStore();
  return keeps;
}

}  // namespace zeph
