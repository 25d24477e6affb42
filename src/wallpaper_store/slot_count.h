#ifndef ZEPH_WALLPAPER_STORE_SLOT_COUNT_H_
#define ZEPH_WALLPAPER_STORE_SLOT_COUNT_H_

#include <cstdint>
#include <string>

namespace zeph {

/// The number of slots in the store at `path` whose record's type reads
/// "Idle" and whose "Idle" selects the installed saver
/// (selectsInstalledSaver()); 0 for a missing, unreadable or malformed
/// store. Never throws.
std::int64_t zephSlotCountIn(const std::string& path);

/// zephSlotCountIn(storePath).
std::int64_t zephSlotCount();

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_SLOT_COUNT_H_
