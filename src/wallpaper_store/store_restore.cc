#include "wallpaper_store/store_restore.h"

#include <exception>
#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "wallpaper_store/store_backups.h"
#include "wallpaper_store/store_document.h"
#include "wallpaper_store/store_slots.h"

namespace zeph {
namespace {

// A slot's kind and place, which identify it across documents.
using SlotKey = std::tuple<SlotKind, std::string, std::string>;

SlotKey slotKey(const Slot& slot) { return {slot.kind, std::string(slot.space), std::string(slot.display)}; }

// A record from before zeph and the backup it came from.
struct EarlierRecord {
  plist::Dictionary record;
  std::size_t backup;  // index into the backups, oldest first
};

struct EarlierEntry {
  plist::Value idle;
  std::size_t backup;
};

struct EarlierRecords {
  std::vector<StoreBackup> backups;
  std::map<SlotKey, EarlierRecord> bySlot;    // from the oldest backup holding the slot without the saver
  std::optional<EarlierEntry> systemDefault;  // the oldest system-default screen saver not the saver
};

// Stops the removal: a backup it may need cannot be used. Without it the
// slots would lose what they had before zeph, for good.
[[noreturn]] void throwUnusableBackup(const std::string& problem) {
  throw std::runtime_error(problem +
                           "; nothing was changed (move that backup out of the folder to go on without it)");
}

// The records from before zeph of the `wanted` slots, from the backups of
// `store`, oldest first; every backup read until all are found must be whole.
EarlierRecords findEarlierRecords(const StoreFile& store, const std::set<SlotKey>& wanted) {
  EarlierRecords found;
  try {
    found.backups = storeBackups(store);
  } catch (const std::exception& e) {
    throw std::runtime_error(problemWith(backupFolder(), e) + "; nothing was changed");
  }
  for (std::size_t index = 0; index < found.backups.size(); ++index) {
    if (found.bySlot.size() == wanted.size() && found.systemDefault) break;
    const std::string& path = found.backups[index].path;
    plist::Value document;
    try {
      document = parseStore(readFile(path), path);
    } catch (const std::exception& e) {
      throwUnusableBackup(problemWith(path, e));
    }
    const plist::Dictionary* root = document.asDictionary();
    if (!root) throwUnusableBackup(path + ": the top level is not a dictionary");
    forEachSlot(*root, [&](const Slot& slot) {
      // A record of a shape the rewrite leaves alone was never the rewrite's doing.
      if (slotShowsSaver(slot) || slot.shape() == RecordShape::Unknown) return;
      SlotKey key = slotKey(slot);
      if (wanted.count(key) != 0 && found.bySlot.count(key) == 0) {
        found.bySlot.emplace(std::move(key), EarlierRecord{*slot.record, index});
      }
      if (slot.kind == SlotKind::SystemDefault && !found.systemDefault) {
        const plist::Value* shown = shownScreenSaver(*slot.record);
        if (shown && shown->asDictionary()) found.systemDefault = EarlierEntry{*shown, index};
      }
    });
  }
  return found;
}

// `now` with the members named `keys` as `earlier` has them: changed in
// place, dropped where `earlier` lacks them, added after the rest where only
// `earlier` has them.
plist::Dictionary withMembersOf(const plist::Dictionary& now, const plist::Dictionary& earlier,
                                std::initializer_list<std::string_view> keys) {
  auto named = [&keys](std::string_view key) {
    for (std::string_view k : keys) {
      if (k == key) return true;
    }
    return false;
  };
  std::vector<plist::Dictionary::Member> members;
  for (const auto& member : now) {
    if (!named(member.first)) {
      members.push_back(member);
    } else if (const plist::Value* value = earlier.find(member.first)) {
      members.emplace_back(member.first, *value);
    }
  }
  for (const auto& member : earlier) {
    if (named(member.first) && !now.find(member.first)) members.push_back(member);
  }
  return plist::Dictionary::fromMembers(std::move(members), plist::DuplicateKeys::KeepFirst);
}

plist::Dictionary withIdle(const plist::Dictionary& now, const std::optional<plist::Value>& idle) {
  plist::Dictionary carrier;
  if (idle) carrier.set("Idle", *idle);
  return withMembersOf(now, carrier, {"Idle"});
}

// The record `now`, which selects the saver, as it was before zeph.
plist::Dictionary putBack(const plist::Dictionary& now, const EarlierRecord* earlier,
                          const std::optional<EarlierEntry>& systemDefault) {
  if (!earlier) return withIdle(now, systemDefault ? std::optional(systemDefault->idle) : std::nullopt);
  const plist::Dictionary& before = earlier->record;
  switch (recordShape(before)) {
    case RecordShape::Linked: {
      const plist::Value* desktop = now.find("Desktop");
      if (desktop && *desktop == *before.find("Linked")) {
        return withMembersOf(now, before, {"Type", "Linked", "Desktop", "Idle"});
      }
      break;  // the desktop chosen since stays; the screen saver is what the record showed
    }
    case RecordShape::DesktopOnly:
      return withMembersOf(now, before, {"Type", "Idle"});
    case RecordShape::ReadsIdle:
    case RecordShape::Unknown:
      break;
  }
  const plist::Value* shown = shownScreenSaver(before);
  return withIdle(now, shown ? std::optional(*shown) : std::nullopt);
}

// The restore itself: `old` with every slot that selects the saver as it
// was before zeph, from the backups of `store`. None when no slot selects it.
StoreEdit restoreDocument(const StoreFile& store, const plist::Dictionary& old) {
  StoreEdit edit;
  std::set<SlotKey> wanted;
  forEachSlot(old, [&wanted](const Slot& slot) {
    if (slotShowsSaver(slot)) wanted.insert(slotKey(slot));
  });
  if (wanted.empty()) return edit;

  EarlierRecords earlier = findEarlierRecords(store, wanted);
  std::set<std::size_t> used;
  edit.document = replaceSlotRecords(old, [&](const Slot& slot) {
    if (!slotShowsSaver(slot)) return *slot.record;
    ++edit.slots;
    auto found = earlier.bySlot.find(slotKey(slot));
    const EarlierRecord* record = found != earlier.bySlot.end() ? &found->second : nullptr;
    if (record) {
      used.insert(record->backup);
    } else if (earlier.systemDefault) {
      used.insert(earlier.systemDefault->backup);
    }
    return putBack(*slot.record, record, earlier.systemDefault);
  });
  for (std::size_t index : used) edit.backupsUsed.push_back(earlier.backups[index].path);
  return edit;
}

}  // namespace

StoreChangeReport restoreWallpaperStore() { return changeStores("restored", restoreDocument); }

}  // namespace zeph
