#include "wallpaper_store/store_document.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "platform/files.h"
#include "plist/format.h"

namespace zeph {
namespace {

// Seconds from the Unix epoch to the store's epoch, 2001-01-01T00:00:00Z.
constexpr double kEpoch2001 = 978307200.0;

}  // namespace

bool storeExists(const std::string& path) { return pathExists(path); }

std::vector<std::uint8_t> loadStore(const std::string& path) { return readFile(path); }

plist::Value parseStore(std::span<const std::uint8_t> bytes) { return plist::read(bytes); }

void writeStore(const std::string& path, const plist::Value& root) {
  std::vector<std::uint8_t> bytes = plist::write(root, plist::Format::Binary);
  replaceFile(path, bytes);
}

plist::Date currentDate() {
  std::chrono::duration<double> sinceUnix = std::chrono::system_clock::now().time_since_epoch();
  return plist::Date{sinceUnix.count() - kEpoch2001};
}

std::string isoTimestamp(plist::Date date) {
  double seconds = std::floor(date.secondsSince2001 + kEpoch2001);
  // Years 1 to 9999 fit the form; a date outside them (or not a number) is
  // shown as the platform stores it.
  std::tm parts{};
  char text[64];
  if (std::isfinite(seconds) && std::fabs(seconds) < 2.5e11) {
    auto t = static_cast<std::time_t>(seconds);
    if (::gmtime_r(&t, &parts) && parts.tm_year >= 1 - 1900 && parts.tm_year <= 9999 - 1900) {
      std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900,
                    parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
      return text;
    }
  }
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
