#include "wallpaper_store/store_rewrite.h"

#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "plist/format.h"
#include "wallpaper_store/idle_entry.h"
#include "wallpaper_store/store_backups.h"
#include "wallpaper_store/store_document.h"
#include "wallpaper_store/store_slots.h"

namespace zeph {
namespace {

// What the walk does to one record to put the saver where its type reads it.
plist::Dictionary withSaver(const Slot& slot, const plist::Value& chosen, std::int64_t& written) {
  const plist::Dictionary& record = *slot.record;
  plist::Dictionary changed;
  switch (slot.shape()) {
    case RecordShape::ReadsIdle:
      changed = record;
      break;
    case RecordShape::DesktopOnly:
      changed = record;
      changed.set("Type", plist::Value("individual"));
      break;
    case RecordShape::Linked:
      // The desktop keeps showing what "Linked" showed; only the screen
      // saver changes, as when a person picks one in System Settings.
      for (const auto& [key, value] : record) {
        if (key != "Linked") changed.set(key, value);
      }
      changed.set("Type", plist::Value("individual"));
      changed.set("Desktop", *record.find("Linked"));
      break;
    case RecordShape::Unknown:
      return record;  // a shape nobody reported: writing into it could mean anything
  }
  changed.set("Idle", chosen);
  ++written;
  return changed;
}

// One store loaded, backed up and rewritten in memory, not yet written.
StoreChange rewriteInMemory(const StoreFile& store, bool keepLoaded) {
  StoreChange result;
  StoreUpdate& update = result.update.emplace();
  update.path = store.path;
  StoreToChange loaded = loadForChange(store);
  const std::uint64_t storeSize = loaded.loaded.bytes.size();
  if (!keepLoaded && !loaded.loaded.bytesNeededToCompare()) {
    std::vector<std::uint8_t>().swap(loaded.loaded.bytes);  // before the new bytes are made
  }
  update.loaded = std::move(loaded.loaded);
  const plist::Dictionary& root = loaded.root();

  // A saver entry already in the system default is kept, dates and all, so a
  // re-run changes nothing the agent would notice; an entry selecting any
  // other bundle is never spread to every slot. Every slot shares one entry.
  plist::Value chosen(zephIdleNode());
  if (const plist::Dictionary* systemDefault = plist::dictionaryMember(root, "SystemDefault")) {
    const plist::Value* idle = systemDefault->find("Idle");
    if (idle && recordShape(*systemDefault) == RecordShape::ReadsIdle && selectsInstalledSaver(*idle)) {
      chosen = *idle;
    }
  }
  plist::Value rewritten(replaceSlotRecords(
      root, [&chosen, &result](const Slot& slot) { return withSaver(slot, chosen, result.slots); }));

  update.bytes = plist::write(rewritten, plist::Format::Binary);
  const std::uint64_t limit = 64 * storeSize + (std::uint64_t{64} << 20);
  if (update.bytes.size() > limit) {
    throw std::runtime_error(store.path + ": rewritten, the store would grow from " +
                             std::to_string(storeSize) + " to " + std::to_string(update.bytes.size()) +
                             " bytes; it was left as it was");
  }
  return result;
}

}  // namespace

StoreSlotCounts changeStores(
    const std::function<StoreChange(const StoreFile& store, bool keepLoaded)>& change) {
  const StoreFile first = firstStore();
  const StoreFile second = secondStore();
  const bool hasFirst = storeExists(first.path);
  // Index2.plist never stops what Index.plist needs: one that cannot be used is left as it is.
  auto changeSecond = [&]() -> StoreChange {
    try {
      return change(second, hasFirst);
    } catch (const UnreadableStore& e) {
      std::fprintf(stderr, "warning: %s; left unchanged\n", e.what());
      return {};
    }
  };
  StoreChange secondChange;
  bool hasSecond = false;
  try {
    hasSecond = storeExists(second.path);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "warning: %s; left unchanged\n", problemWith(second.path, e).c_str());
  }
  if (hasSecond) secondChange = changeSecond();
  StoreChange firstChange;
  if (hasFirst) firstChange = change(first, false);
  StoreSlotCounts counts;
  if (secondChange.update || firstChange.update) {
    // A store written by someone else meanwhile is changed again from its new bytes.
    auto remake = [&](const std::string& path) {
      StoreChange& remade = path == second.path ? secondChange : firstChange;
      remade = path == second.path ? changeSecond() : change(first, false);
      return std::move(remade.update);
    };
    counts.lateFailure = replaceStores(std::move(secondChange.update), std::move(firstChange.update), remake);
  }
  counts.index = firstChange.slots;
  counts.index2 = secondChange.slots;
  return counts;
}

StoreSlotCounts rewriteWallpaperStores() { return changeStores(rewriteInMemory); }

}  // namespace zeph
