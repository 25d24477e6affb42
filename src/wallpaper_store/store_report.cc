#include "wallpaper_store/store_report.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "text/calendar_time.h"
#include "wallpaper_store/idle_entry.h"
#include "wallpaper_store/store_document.h"
#include "wallpaper_store/store_slots.h"
#include "wallpaper_store/store_time.h"

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

std::string inQuotes(std::string_view text) {
  std::string out(1, '"');
  out += printable(text, true);
  out += '"';
  return out;
}

std::string describeChoice(const plist::Dictionary& choice) {
  const plist::Value* provider = choice.find("Provider");
  std::string text =
      provider && provider->asString() ? printable(*provider->asString(), false) : "(no provider)";
  if (const plist::Value* configuration = choice.find("Configuration")) {
    if (auto url = moduleUrl(*configuration)) {
      text += ' ';
      text += printable(*url, false);
    }
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
    case SlotKind::AllSpaces:
      return "all spaces and displays";
    case SlotKind::TopDisplay:
      return "display " + inQuotes(slot.display);
    case SlotKind::SpaceDefault:
      return "space " + inQuotes(slot.space) + " default";
    case SlotKind::Display:
      return "space " + inQuotes(slot.space) + " display " + inQuotes(slot.display);
  }
  return {};
}

// The record's "Type" as the store holds it, for the administrator to read.
std::string typeName(const plist::Dictionary& record) {
  const plist::Value* type = record.find("Type");
  if (!type) return "no type";
  if (const std::string* name = type->asString()) return inQuotes(*name);
  return "not a string";
}

// The screen saver the slot shows, when it is a dictionary.
const plist::Dictionary* shownEntry(const Slot& slot) {
  const plist::Value* shown = shownScreenSaver(*slot.record);
  return shown ? shown->asDictionary() : nullptr;
}

std::string describeSlot(const Slot& slot) {
  std::string type = typeName(*slot.record);
  switch (slot.shape()) {
    case RecordShape::ReadsIdle:
      return "(" + type + ") " + describeEntry(shownEntry(slot));
    case RecordShape::Linked:
      return "(" + type + ", desktop and screen saver) " + describeEntry(shownEntry(slot));
    case RecordShape::DesktopOnly:
      return "(" + type + ") no screen saver";
    case RecordShape::Unknown:
      break;
  }
  bool linked = type == "\"linked\"";  // without a "Linked" dictionary
  return "left alone (type " + type + (linked ? ", no \"Linked\" entry" : "") + ")";
}

nlohmann::json optionalText(const std::optional<std::string>& text) {
  return text ? nlohmann::json(*text) : nlohmann::json(nullptr);
}

nlohmann::json jsonDate(const plist::Dictionary& entry, const char* key) {
  const plist::Value* value = entry.find(key);
  if (!value || !value->asDate()) return nullptr;
  return optionalText(formatIsoTimestamp(value->asDate()->secondsSince2001, 1, 9999));
}

nlohmann::json jsonSlot(const Slot& slot, const std::string& file) {
  static constexpr const char* kPlaces[] = {"system default", "all spaces and displays", "top-level display",
                                            "space default", "display"};
  static constexpr const char* kShapes[] = {"reads idle", "linked", "desktop", "left alone"};
  const bool inSpace = slot.kind == SlotKind::SpaceDefault || slot.kind == SlotKind::Display;
  const bool onDisplay = slot.kind == SlotKind::TopDisplay || slot.kind == SlotKind::Display;
  nlohmann::json out = nlohmann::json::object();
  out["file"] = file;
  out["place"] = kPlaces[static_cast<int>(slot.kind)];
  out["space"] = inSpace ? nlohmann::json(slot.space) : nlohmann::json(nullptr);
  out["display"] = onDisplay ? nlohmann::json(slot.display) : nlohmann::json(nullptr);
  const plist::Value* type = slot.record->find("Type");
  out["type"] = type && type->asString() ? nlohmann::json(*type->asString()) : nlohmann::json(nullptr);
  out["shape"] = kShapes[static_cast<int>(slot.shape())];
  nlohmann::json selection = nlohmann::json::array();
  const plist::Dictionary* entry = shownEntry(slot);
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
  out["zeph"] = isZeph(slot.readIdleEntry());
  return out;
}

}  // namespace

std::string storeReportJson(const std::vector<ReportedStore>& stores) {
  // Store text need not be valid UTF-8; a report must still come out.
  const auto text = [](const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  };
  // Each slot is written out as it is met: a tree of a million slots would
  // take gigabytes. The members come in key order, as the library orders them.
  std::string slots;
  nlohmann::json files = nlohmann::json::array();
  std::int64_t zephSlots = 0;
  std::int64_t saverSlots = 0;
  for (const ReportedStore& store : stores) {
    files.push_back(store.path);
    const plist::Dictionary* root = store.document.asDictionary();
    if (!root) continue;
    forEachSlot(*root, [&](const Slot& slot) {
      slots += slots.empty() ? "" : ",";
      slots += text(jsonSlot(slot, store.path));
      if (slot.readsIdle()) ++saverSlots;
      if (isZeph(slot.readIdleEntry())) ++zephSlots;
    });
  }
  return "{\"schema\":1,\"slots\":[" + slots +
         "],\"store\":" + text(stores.empty() ? nlohmann::json(nullptr) : files[0]) +
         ",\"stores\":" + text(files) + ",\"total\":" + std::to_string(saverSlots) +
         ",\"zeph\":" + std::to_string(zephSlots) + "}\n";
}

SaverSlots saverSlotsOf(const plist::Dictionary& root) {
  SaverSlots counted;
  forEachSlot(root, [&counted](const Slot& slot) {
    if (!slot.readsIdle()) return;  // left alone or desktop only: nothing to set there
    ++counted.total;
    if (slotShowsSaver(slot)) ++counted.zeph;
  });
  return counted;
}

std::string backupLine(const StoreBackup& backup) {
  std::string line = backup.path + "\t" + backup.time + "\t";
  std::vector<std::uint8_t> bytes;
  try {
    bytes = readFile(backup.path);
  } catch (const std::exception&) {
    return line + "-\tdamaged\n";
  }
  line += std::to_string(bytes.size()) + "\t";
  try {
    plist::Value document = parseStore(bytes, backup.path);
    if (!document.asDictionary()) return line + "damaged\n";
    return line + std::to_string(saverSlotsOf(*document.asDictionary()).zeph) + "\n";
  } catch (const std::exception&) {
    return line + "damaged\n";
  }
}

std::string storeReport(const plist::Dictionary& root) {
  std::string report;
  std::int64_t zephSlots = 0;
  forEachSlot(root, [&](const Slot& slot) {
    report += slotName(slot) + ": " + describeSlot(slot) + "\n";
    if (isZeph(slot.readIdleEntry())) ++zephSlots;
  });
  report +=
      std::to_string(zephSlots) + (zephSlots == 1 ? " slot holds" : " slots hold") + " the zeph saver\n";
  return report;
}

}  // namespace zeph
