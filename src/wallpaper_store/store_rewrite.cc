#include "wallpaper_store/store_rewrite.h"

#include <string>
#include <vector>

#include "base/installer_error.h"
#include "base/process_values.h"
#include "platform/files.h"
#include "wallpaper_store/idle_entry.h"
#include "wallpaper_store/store_document.h"

namespace zeph {
namespace {

// Puts `entry` under "Idle" in `holder` and returns the changed copy.
plist::Value withIdle(const plist::Dictionary& holder, const plist::Value& entry) {
  plist::Dictionary changed = holder;
  changed.set("Idle", entry);
  return plist::Value(std::move(changed));
}

// Sets every slot of one space; returns the changed space.
plist::Value rewriteSpace(const plist::Dictionary& space, const plist::Value& entry, std::int64_t& count) {
  plist::Dictionary changed = space;
  if (const plist::Dictionary* spaceDefault = plist::dictionaryMember(space, "Default")) {
    changed.set("Default", withIdle(*spaceDefault, entry));
    ++count;
  }
  if (const plist::Dictionary* displays = plist::dictionaryMember(space, "Displays")) {
    plist::Dictionary workingDisplays = *displays;
    for (const auto& [displayId, displayValue] : *displays) {
      if (const plist::Dictionary* display = displayValue.asDictionary()) {
        workingDisplays.set(displayId, withIdle(*display, entry));
        ++count;
      }
    }
    changed.set("Displays", plist::Value(std::move(workingDisplays)));
  }
  return plist::Value(std::move(changed));
}

}  // namespace

std::int64_t rewriteWallpaperStore() {
  if (!storeExists(storePath)) return 0;
  const plist::Value document = [] {
    const std::vector<std::uint8_t> loaded = loadStore(storePath);

    // The backup holds the bytes as loaded and is on the disk before the store is touched.
    const std::string backupFolder = realHome + "/Library/Application Support/zeph";
    createFolders(backupFolder);
    writeNewFile(backupFolder, "wallpaper-store-backup-" + isoTimestamp(currentDate()), ".plist", loaded);

    return parseStore(loaded);
  }();  // the loaded bytes go here, before the new ones are made
  const plist::Dictionary* rootDictionary = document.asDictionary();
  if (!rootDictionary) throw InstallerError(2, "Couldn't read the macOS screensaver settings file.");
  plist::Dictionary root = *rootDictionary;  // the changed copy; lookups go to the loaded document

  // A saver entry already in the system default is kept, dates and all, so a
  // re-run changes nothing the agent would notice. Every slot shares one entry.
  plist::Value chosen(zephIdleNode());
  const plist::Dictionary* systemDefault = plist::dictionaryMember(*rootDictionary, "SystemDefault");
  if (systemDefault) {
    const plist::Value* idle = systemDefault->find("Idle");
    if (idle && isZeph(idle->asDictionary())) chosen = *idle;
  }

  std::int64_t count = 0;
  if (systemDefault) {
    root.set("SystemDefault", withIdle(*systemDefault, chosen));
    ++count;
  }
  if (const plist::Dictionary* spaces = plist::dictionaryMember(*rootDictionary, "Spaces")) {
    plist::Dictionary workingSpaces = *spaces;
    for (const auto& [spaceId, spaceValue] : *spaces) {
      if (const plist::Dictionary* space = spaceValue.asDictionary()) {
        workingSpaces.set(spaceId, rewriteSpace(*space, chosen, count));
      }
    }
    root.set("Spaces", plist::Value(std::move(workingSpaces)));
  }

  writeStore(storePath, plist::Value(std::move(root)));
  return count;
}

}  // namespace zeph
