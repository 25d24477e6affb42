#include "wallpaper_store/store_report.h"

#include <cstdint>
#include <cstdio>
#include <string_view>

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
    case SlotKind::AllSpaces:
      return "all spaces and displays";
    case SlotKind::TopDisplay:
      return "display " + quoted(slot.display);
    case SlotKind::SpaceDefault:
      return "space " + quoted(slot.space) + " default";
    case SlotKind::Display:
      return "space " + quoted(slot.space) + " display " + quoted(slot.display);
  }
  return {};
}

// The record's "Type" as the store holds it, for the administrator to read.
std::string typeName(const plist::Dictionary& record) {
  const plist::Value* type = record.find("Type");
  if (!type) return "no type";
  if (const std::string* name = type->asString()) return quoted(*name);
  return "not a string";
}

std::string describeSlot(const Slot& slot) {
  std::string type = typeName(*slot.record);
  switch (slot.shape()) {
    case RecordShape::ReadsIdle:
      return "(" + type + ") " + describeEntry(slot.idleEntry());
    case RecordShape::Linked:
      return "(" + type + ", desktop and screen saver) " +
             describeEntry(plist::dictionaryMember(*slot.record, "Linked"));
    case RecordShape::DesktopOnly:
      return "(" + type + ") no screen saver";
    case RecordShape::Unknown:
      break;
  }
  bool linked = type == "\"linked\"";  // without a "Linked" dictionary
  return "left alone (type " + type + (linked ? ", no \"Linked\" entry" : "") + ")";
}

}  // namespace

std::string storeReport(const plist::Dictionary& root) {
  std::string report;
  std::int64_t zephSlots = 0;
  forEachSlot(root, [&](const Slot& slot) {
    report += slotName(slot) + ": " + describeSlot(slot) + "\n";
    if (slot.readsIdle() && isZeph(slot.idleEntry())) ++zephSlots;
  });
  report +=
      std::to_string(zephSlots) + (zephSlots == 1 ? " slot holds" : " slots hold") + " the zeph saver\n";
  return report;
}

}  // namespace zeph
