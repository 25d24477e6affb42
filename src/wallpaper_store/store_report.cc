#include "wallpaper_store/store_report.h"

#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "text/calendar_time.h"
#include "wallpaper_store/idle_entry.h"
#include "wallpaper_store/store_document.h"

namespace zeph {
namespace {

// Keeps what the store holds from steering the terminal or splitting a line.
std::string printable(std::string_view text, bool quoted) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F || c == '\\' || (quoted && c == '"')) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string quoted(std::string_view text) { return "\"" + printable(text, true) + "\""; }

std::string describeChoice(const plist::Dictionary& choice) {
  const plist::Value* provider = choice.find("Provider");
  std::string text =
      provider && provider->asString() ? printable(*provider->asString(), false) : "(no provider)";
  if (const plist::Value* configuration = choice.find("Configuration")) {
    if (auto url = moduleUrl(*configuration)) text += " " + printable(*url, false);
  }
  return text;
}

std::string describeEntry(const plist::Dictionary* entry) {
  if (!entry) return "none";
  std::string choices;
  const plist::Dictionary* content = plist::dictionaryMember(*entry, "Content");
  const plist::Value* list = content ? content->find("Choices") : nullptr;
  if (list && list->asArray()) {
    for (const plist::Value& choice : *list->asArray()) {
      if (!choice.asDictionary()) continue;
      if (!choices.empty()) choices += ", ";
      choices += describeChoice(*choice.asDictionary());
    }
  }
  std::string text = choices.empty() ? "none" : choices;

  std::string dates;
  auto addDate = [&](const char* key, const char* label) {
    const plist::Value* value = entry->find(key);
    if (!value || !value->asDate()) return;
    dates += (dates.empty() ? "" : ", ") + std::string(label) + " " + isoTimestamp(*value->asDate());
  };
  addDate("LastSet", "set");
  addDate("LastUse", "used");
  if (!dates.empty()) text += " (" + dates + ")";
  return text;
}

std::string slotName(const Slot& slot) {
  switch (slot.kind) {
    case SlotKind::SystemDefault:
      return "system default";
    case SlotKind::SpaceDefault:
      return "space " + quoted(slot.space) + " default";
    case SlotKind::Display:
      return "space " + quoted(slot.space) + " display " + quoted(slot.display);
  }
  return {};
}

nlohmann::json optionalText(const std::optional<std::string>& text) {
  return text ? nlohmann::json(*text) : nlohmann::json(nullptr);
}

nlohmann::json jsonDate(const plist::Dictionary& entry, const char* key) {
  const plist::Value* value = entry.find(key);
  if (!value || !value->asDate()) return nullptr;
  return optionalText(formatIsoTimestamp(value->asDate()->secondsSince2001, 1, 9999));
}

nlohmann::json jsonSlot(const Slot& slot) {
  static constexpr const char* kPlaces[] = {"system default", "space default", "display"};
  nlohmann::json out = nlohmann::json::object();
  out["place"] = kPlaces[static_cast<int>(slot.kind)];
  out["space"] = slot.kind == SlotKind::SystemDefault ? nlohmann::json(nullptr) : nlohmann::json(slot.space);
  out["display"] = slot.kind == SlotKind::Display ? nlohmann::json(slot.display) : nlohmann::json(nullptr);
  nlohmann::json selection = nlohmann::json::array();
  const plist::Dictionary* entry = slot.idleEntry();
  const plist::Dictionary* content = entry ? plist::dictionaryMember(*entry, "Content") : nullptr;
  const plist::Value* list = content ? content->find("Choices") : nullptr;
  if (list && list->asArray()) {
    for (const plist::Value& choice : *list->asArray()) {
      if (!choice.asDictionary()) continue;
      const plist::Value* provider = choice.asDictionary()->find("Provider");
      const plist::Value* configuration = choice.asDictionary()->find("Configuration");
      selection.push_back({
          {"provider", optionalText(provider && provider->asString() ? std::optional(*provider->asString())
                                                                     : std::nullopt)},
          {"url", optionalText(configuration ? moduleUrl(*configuration) : std::nullopt)},
      });
    }
  }
  out["selection"] = std::move(selection);
  out["set"] = entry ? jsonDate(*entry, "LastSet") : nullptr;
  out["used"] = entry ? jsonDate(*entry, "LastUse") : nullptr;
  out["zeph"] = isZeph(entry);
  return out;
}

}  // namespace

std::string storeReportJson(const plist::Dictionary& root, const std::string& path) {
  nlohmann::json slots = nlohmann::json::array();
  std::int64_t zephSlots = 0;
  forEachSlot(root, [&](const Slot& slot) {
    slots.push_back(jsonSlot(slot));
    if (isZeph(slot.idleEntry())) ++zephSlots;
  });
  nlohmann::json report = nlohmann::json::object();
  report["schema"] = 1;
  report["store"] = path;
  report["total"] = slots.size();
  report["slots"] = std::move(slots);
  report["zeph"] = zephSlots;
  // Store text need not be valid UTF-8; a report must still come out.
  return report.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string storeReport(const plist::Dictionary& root) {
  std::string report;
  std::int64_t zephSlots = 0;
  forEachSlot(root, [&](const Slot& slot) {
    report += slotName(slot) + ": " + describeEntry(slot.idleEntry()) + "\n";
    if (isZeph(slot.idleEntry())) ++zephSlots;
  });
  report +=
      std::to_string(zephSlots) + (zephSlots == 1 ? " slot holds" : " slots hold") + " the zeph saver\n";
  return report;
}

}  // namespace zeph
