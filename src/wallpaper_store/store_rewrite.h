#ifndef ZEPH_WALLPAPER_STORE_STORE_REWRITE_H_
#define ZEPH_WALLPAPER_STORE_STORE_REWRITE_H_

#include <cstdint>

namespace zeph {

/// Backs the store at storePath up, byte for byte, then sets every idle slot
/// to the saver's entry and writes the store back in binary. Returns the
/// number of slots written (0 when there is no store). Throws InstallerError
/// (code 2: root is not a dictionary), plist::Error or std::system_error.
std::int64_t rewriteWallpaperStore();

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_STORE_REWRITE_H_
