#include "wallpaper_store/store_rewrite.h"

#include <cstdint>

#include "wallpaper_store/idle_entry.h"
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

// The rewrite itself: `old` with the saver in every slot that can show it.
// A saver entry already in the system default is kept, dates and all, so a
// re-run changes nothing the agent would notice; an entry selecting any
// other bundle is never spread to every slot. Every slot shares one entry.
StoreEdit rewriteDocument(const StoreFile&, const plist::Dictionary& old) {
  plist::Value chosen(zephIdleNode());
  if (const plist::Dictionary* systemDefault = plist::dictionaryMember(old, "SystemDefault")) {
    if (recordShape(*systemDefault) == RecordShape::ReadsIdle &&
        selectsInstalledSaver(plist::dictionaryMember(*systemDefault, "Idle"))) {
      chosen = *systemDefault->find("Idle");
    }
  }
  StoreEdit edit;
  edit.document = replaceSlotRecords(
      old, [&chosen, &edit](const Slot& slot) { return withSaver(slot, chosen, edit.slots); });
  return edit;
}

}  // namespace

StoreChangeReport rewriteWallpaperStore() { return changeStores("rewritten", rewriteDocument); }

}  // namespace zeph
