#ifndef ZEPH_PLATFORM_SYSTEM_VERSION_H_
#define ZEPH_PLATFORM_SYSTEM_VERSION_H_

namespace zeph {

/// Whether this system keeps a wallpaper store (macOS 14 and later). macOS 13
/// chooses its screen saver by the legacy selection alone. The product version
/// is read once; a version that cannot be read counts as a store-keeping one.
/// True away from a Mac, where the tests work with stores. The effects
/// table's systemKeepsWallpaperStore, when set, answers instead.
bool systemKeepsWallpaperStore();

}  // namespace zeph

#endif  // ZEPH_PLATFORM_SYSTEM_VERSION_H_
