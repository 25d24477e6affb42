#ifndef ZEPH_PLATFORM_SYSTEM_VERSION_H_
#define ZEPH_PLATFORM_SYSTEM_VERSION_H_

namespace zeph {

/// Whether this system keeps a wallpaper store (macOS 14 and later). macOS 13
/// chooses its screen saver by the legacy selection alone. The product version
/// is read once; a version that cannot be read counts as a store-keeping one.
/// True away from a Mac, where the tests work with stores.
bool systemKeepsWallpaperStore();

/// Makes systemKeepsWallpaperStore() answer `keeps` for the lifetime of this
/// object, so that a test can take either path on any system. Scopes nest; the
/// innermost one wins.
class ScopedSystemKeepsWallpaperStore {
 public:
  explicit ScopedSystemKeepsWallpaperStore(bool keeps);
  ~ScopedSystemKeepsWallpaperStore();
  ScopedSystemKeepsWallpaperStore(const ScopedSystemKeepsWallpaperStore&) = delete;
  ScopedSystemKeepsWallpaperStore& operator=(const ScopedSystemKeepsWallpaperStore&) = delete;

  bool keeps() const { return keeps_; }

 private:
  bool keeps_;
  ScopedSystemKeepsWallpaperStore* previous_;  // restored on destruction; may be null
};

}  // namespace zeph

#endif  // ZEPH_PLATFORM_SYSTEM_VERSION_H_
