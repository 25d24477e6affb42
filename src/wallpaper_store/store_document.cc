#include "wallpaper_store/store_document.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "plist/error.h"
#include "plist/format.h"
#include "text/calendar_time.h"

namespace zeph {

bool storeExists(const std::string& path) { return regularFileExists(path); }

std::vector<std::uint8_t> loadStore(const std::string& path) { return readFile(path); }

plist::Value parseStore(std::span<const std::uint8_t> bytes, const std::string& path) {
  static constexpr std::string_view kBinaryMagic = "bplist0";
  bool binary = bytes.size() >= kBinaryMagic.size() &&
                std::equal(kBinaryMagic.begin(), kBinaryMagic.end(), bytes.begin());
  try {
    plist::Format format = plist::Format::Binary;
    plist::Value root = plist::read(bytes, &format);
    // A file with the magic that a text reader took is a binary one cut short.
    if (binary && format != plist::Format::Binary) throw plist::Error("the binary trailer is missing");
    return root;
  } catch (const plist::Error& e) {
    std::string problem = e.what();
    if (binary && problem.rfind("binary plist: ", 0) == 0) problem.erase(0, 14);
    throw plist::Error(path + ": " + (binary ? "a damaged binary property list (" + problem + ")" : problem));
  } catch (const std::bad_alloc&) {
    throw plist::Error("not enough memory to read " + path + " (" + std::to_string(bytes.size()) + " bytes)");
  }
}

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

namespace {

// The one definition of where the slots are. `onSlot` meets every slot in
// order; when rebuilding, what it returns becomes the slot's "Idle", each
// changed dictionary is stored back into its parent, and `changedRoot`
// receives the new tree. Only what lies on the way to a slot is copied.
plist::Dictionary withoutMember(const plist::Dictionary& dictionary, std::string_view key) {
  std::vector<plist::Dictionary::Member> kept;
  for (const plist::Dictionary::Member& member : dictionary) {
    if (member.first != key) kept.push_back(member);
  }
  return plist::Dictionary::fromMembers(std::move(kept), plist::DuplicateKeys::KeepFirst);
}

template <bool kRebuild, typename OnSlot>
void walkSlots(const plist::Dictionary& root, OnSlot&& onSlot, plist::Dictionary* changedRoot) {
  auto visit = [&onSlot](const plist::Dictionary& holder, const Slot& slot, plist::Dictionary* parent,
                         const std::string& key) {
    if constexpr (kRebuild) {
      std::optional<plist::Value> idle = onSlot(slot);
      plist::Dictionary changed = idle ? holder : withoutMember(holder, "Idle");
      if (idle) changed.set("Idle", std::move(*idle));
      parent->set(key, plist::Value(std::move(changed)));
    } else {
      (void)holder, (void)parent, (void)key;
      onSlot(slot);
    }
  };
  if (const plist::Dictionary* systemDefault = plist::dictionaryMember(root, "SystemDefault")) {
    visit(*systemDefault, Slot{SlotKind::SystemDefault, {}, {}, systemDefault->find("Idle")}, changedRoot,
          "SystemDefault");
  }
  const plist::Dictionary* spaces = plist::dictionaryMember(root, "Spaces");
  if (!spaces) return;
  plist::Dictionary changedSpaces;
  if constexpr (kRebuild) changedSpaces = *spaces;
  for (const auto& [spaceId, spaceValue] : *spaces) {
    const plist::Dictionary* space = spaceValue.asDictionary();
    if (!space) continue;
    plist::Dictionary changedSpace;
    if constexpr (kRebuild) changedSpace = *space;
    if (const plist::Dictionary* spaceDefault = plist::dictionaryMember(*space, "Default")) {
      visit(*spaceDefault, Slot{SlotKind::SpaceDefault, spaceId, {}, spaceDefault->find("Idle")}, &changedSpace,
            "Default");
    }
    if (const plist::Dictionary* displays = plist::dictionaryMember(*space, "Displays")) {
      plist::Dictionary changedDisplays;
      if constexpr (kRebuild) changedDisplays = *displays;
      for (const auto& [displayId, displayValue] : *displays) {
        if (const plist::Dictionary* display = displayValue.asDictionary()) {
          visit(*display, Slot{SlotKind::Display, spaceId, displayId, display->find("Idle")}, &changedDisplays,
                displayId);
        }
      }
      if constexpr (kRebuild) changedSpace.set("Displays", plist::Value(std::move(changedDisplays)));
    }
    if constexpr (kRebuild) changedSpaces.set(spaceId, plist::Value(std::move(changedSpace)));
  }
  if constexpr (kRebuild) changedRoot->set("Spaces", plist::Value(std::move(changedSpaces)));
}

}  // namespace

void forEachSlot(const plist::Dictionary& root, const std::function<void(const Slot&)>& visit) {
  walkSlots<false>(root, visit, nullptr);
}

plist::Dictionary replaceSlotIdles(const plist::Dictionary& root,
                                   const std::function<std::optional<plist::Value>(const Slot&)>& replace) {
  plist::Dictionary changed = root;
  walkSlots<true>(root, replace, &changed);
  return changed;
}

}  // namespace zeph
