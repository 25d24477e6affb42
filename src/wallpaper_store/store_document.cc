#include "wallpaper_store/store_document.h"

#include <cstdio>

#include "platform/files.h"
#include "plist/format.h"
#include "text/calendar_time.h"

namespace zeph {
bool storeExists(const std::string& path) { return pathExists(path); }

std::vector<std::uint8_t> loadStore(const std::string& path) { return readFile(path); }

plist::Value parseStore(std::span<const std::uint8_t> bytes) { return plist::read(bytes); }

void writeStore(const std::string& path, const plist::Value& root) {
  std::vector<std::uint8_t> bytes = plist::write(root, plist::Format::Binary);
  replaceFile(path, bytes);
}

plist::Date currentDate() { return plist::Date{secondsSince2001Now()}; }

std::string isoTimestamp(plist::Date date) {
  // Years 1 to 9999 fit the form; a date outside them (or not a number) is
  // shown as the platform stores it.
  if (auto text = formatIsoTimestamp(date.secondsSince2001, 1, 9999)) return *text;
  char text[64];
  std::snprintf(text, sizeof text, "%g seconds since 2001", date.secondsSince2001);
  return text;
}

void forEachSlot(const plist::Dictionary& root, const std::function<void(const Slot&)>& visit) {
  if (const plist::Dictionary* systemDefault = plist::dictionaryMember(root, "SystemDefault")) {
    visit(Slot{SlotKind::SystemDefault, {}, {}, systemDefault->find("Idle")});
  }
  const plist::Dictionary* spaces = plist::dictionaryMember(root, "Spaces");
  if (!spaces) return;
  for (const auto& [spaceId, spaceValue] : *spaces) {
    const plist::Dictionary* space = spaceValue.asDictionary();
    if (!space) continue;
    if (const plist::Dictionary* spaceDefault = plist::dictionaryMember(*space, "Default")) {
      visit(Slot{SlotKind::SpaceDefault, spaceId, {}, spaceDefault->find("Idle")});
    }
    const plist::Dictionary* displays = plist::dictionaryMember(*space, "Displays");
    if (!displays) continue;
    for (const auto& [displayId, displayValue] : *displays) {
      if (const plist::Dictionary* display = displayValue.asDictionary()) {
        visit(Slot{SlotKind::Display, spaceId, displayId, display->find("Idle")});
      }
    }
  }
}

}  // namespace zeph
