#ifndef ZEPH_WALLPAPER_STORE_SLOT_COUNT_H_
#define ZEPH_WALLPAPER_STORE_SLOT_COUNT_H_

#include <cstdint>
#include <string>

namespace zeph {

/// The number of slots in the store at `path` that show the installed saver
/// (slotShowsSaver()); 0 for a missing, unreadable or malformed store.
/// Never throws.
std::int64_t zephSlotCount(const std::string& path);

/// zephSlotCount(storePath): Index.plist's count.
std::int64_t zephSlotCount();

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_SLOT_COUNT_H_
