#include "wallpaper_store/slot_count.h"

#include <vector>

#include "base/process_values.h"
#include "wallpaper_store/store_document.h"
#include "wallpaper_store/store_slots.h"

namespace zeph {

std::int64_t zephSlotCount() { return zephSlotCount(storePath); }

std::int64_t zephSlotCount(const std::string& path) {
  // Only looks: any problem with the file means no slot holds the saver.
  try {
    std::vector<std::uint8_t> bytes = loadStore(path);
    plist::Value document = parseStore(bytes, path);
    const plist::Dictionary* root = document.asDictionary();
    if (!root) return 0;
    std::int64_t count = 0;
    forEachSlot(*root, [&count](const Slot& slot) {
      if (slotShowsSaver(slot)) ++count;
    });
    return count;
  } catch (...) {
    return 0;
  }
}

}  // namespace zeph
