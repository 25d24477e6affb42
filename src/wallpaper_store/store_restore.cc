#include "wallpaper_store/store_restore.h"

#include <algorithm>
#include <exception>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/installer_error.h"
#include "base/process_values.h"
#include "platform/files.h"
#include "plist/format.h"
#include "wallpaper_store/idle_entry.h"
#include "wallpaper_store/store_document.h"
#include "wallpaper_store/store_rewrite.h"

namespace zeph {
namespace {

// A slot's kind and place, which identify it across documents.
using SlotKey = std::tuple<SlotKind, std::string, std::string>;

SlotKey slotKey(const Slot& slot) { return {slot.kind, std::string(slot.space), std::string(slot.display)}; }

bool selectsSaver(const plist::Value* idle) { return idle && selectsInstalledSaver(*idle); }

// An entry from before zeph (none: the slot had no entry) and the backup it came from.
struct EarlierEntry {
  std::optional<plist::Value> idle;
  std::size_t backup;  // index into the backups, oldest first
};

struct EarlierEntries {
  std::vector<StoreBackup> backups;
  std::map<SlotKey, EarlierEntry> bySlot;     // from the oldest backup holding the slot without the saver
  std::optional<EarlierEntry> systemDefault;  // the oldest system-default entry not selecting the saver
};

EarlierEntries findEarlierEntries(const std::set<SlotKey>& wanted, std::vector<std::string>& skipped) {
  EarlierEntries found;
  found.backups = storeBackups();
  for (std::size_t index = 0; index < found.backups.size(); ++index) {
    if (found.bySlot.size() == wanted.size() && found.systemDefault) break;
    const std::string& path = found.backups[index].path;
    plist::Value document;
    try {
      document = parseStore(readFile(path), path);
    } catch (const std::exception& e) {
      skipped.push_back(e.what());
      continue;
    }
    const plist::Dictionary* root = document.asDictionary();
    if (!root) {
      skipped.push_back(path + ": the top level is not a dictionary");
      continue;
    }
    forEachSlot(*root, [&](const Slot& slot) {
      if (selectsSaver(slot.idle)) return;
      SlotKey key = slotKey(slot);
      if (wanted.count(key) != 0 && found.bySlot.count(key) == 0) {
        found.bySlot.emplace(std::move(key),
                             EarlierEntry{slot.idle ? std::optional(*slot.idle) : std::nullopt, index});
      }
      if (slot.kind == SlotKind::SystemDefault && slot.idleEntry() && !found.systemDefault) {
        found.systemDefault = EarlierEntry{*slot.idle, index};
      }
    });
  }
  return found;
}

}  // namespace

StoreRestore restoreWallpaperStore() {
  StoreRestore restore;
  if (!storeExists(storePath)) return restore;
  const plist::Value document = [] {
    const std::vector<std::uint8_t> loaded = loadStore(storePath);
    backUpStore(loaded);
    return parseStore(loaded, storePath);
  }();
  const plist::Dictionary* root = document.asDictionary();
  if (!root) throw InstallerError(2, "Couldn't read the macOS screensaver settings file.");

  std::set<SlotKey> wanted;
  forEachSlot(*root, [&wanted](const Slot& slot) {
    if (selectsSaver(slot.idle)) wanted.insert(slotKey(slot));
  });
  if (wanted.empty()) return restore;

  EarlierEntries earlier = findEarlierEntries(wanted, restore.skipped);
  std::set<std::size_t> used;
  plist::Value restored(replaceSlotIdles(*root, [&](const Slot& slot) -> std::optional<plist::Value> {
    if (!selectsSaver(slot.idle)) return slot.idle ? std::optional(*slot.idle) : std::nullopt;
    ++restore.slots;
    auto found = earlier.bySlot.find(slotKey(slot));
    const EarlierEntry* entry = found != earlier.bySlot.end() ? &found->second
                                : earlier.systemDefault       ? &*earlier.systemDefault
                                                              : nullptr;
    if (!entry) return std::nullopt;
    used.insert(entry->backup);
    return entry->idle;
  }));
  for (std::size_t index : used) restore.backupsUsed.push_back(earlier.backups[index].path);
  replaceFile(storePath, plist::write(restored, plist::Format::Binary));
  return restore;
}

}  // namespace zeph
