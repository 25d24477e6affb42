#ifndef ZEPH_WALLPAPER_STORE_SLOT_COUNT_H_
#define ZEPH_WALLPAPER_STORE_SLOT_COUNT_H_

#include <cstdint>

namespace zeph {

/// The number of idle slots in the store at storePath that select the
/// installed saver (selectsInstalledSaver()); 0 for a missing, unreadable or
/// malformed store. Never throws.
std::int64_t zephSlotCount();

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_SLOT_COUNT_H_
