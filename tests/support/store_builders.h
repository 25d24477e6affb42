#ifndef ZEPH_TESTS_SUPPORT_STORE_BUILDERS_H_
#define ZEPH_TESTS_SUPPORT_STORE_BUILDERS_H_

/// Small builders of property-list values and of wallpaper stores shaped like
/// the ones real Macs carry.

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "plist/value.h"
#include "wallpaper_store/store_slots.h"

namespace zeph::test_support {

inline plist::Value dict(std::vector<plist::Dictionary::Member> members) {
  return plist::Value(plist::Dictionary::fromMembers(std::move(members), plist::DuplicateKeys::KeepFirst));
}
inline plist::Value array(std::vector<plist::Value> items) {
  return plist::Value(plist::Array(std::move(items)));
}
inline plist::Value str(const char* s) { return plist::Value(s); }

// A slot as real stores carry it: some other provider chosen, "$null" strings.
inline plist::Value otherSlot(const char* provider) {
  plist::Dictionary choice;
  choice.set("Provider", plist::Value(provider));
  choice.set("Files", plist::Value(plist::Array{}));
  choice.set("Configuration", plist::Value(plist::Data{0x62, 0x70, 0x6c, 0x69, 0x73, 0x74}));
  plist::Dictionary content;
  content.set("Choices", plist::Value(plist::Array{plist::Value(std::move(choice))}));
  content.set("Shuffle", plist::Value("$null"));
  content.set("EncodedOptionValues", plist::Value("$null"));
  plist::Dictionary slot;
  slot.set("Content", plist::Value(std::move(content)));
  slot.set("LastSet", plist::Value(plist::Date{7.0e8}));
  slot.set("LastUse", plist::Value(plist::Date{7.1e8}));
  return plist::Value(std::move(slot));
}

inline plist::Value record(bool withIdle) {
  plist::Dictionary r;
  r.set("Type", plist::Value("individual"));
  r.set("Desktop", otherSlot("com.apple.wallpaper.choice.image"));
  if (withIdle) r.set("Idle", otherSlot("com.apple.wallpaper.choice.aerials"));
  return plist::Value(std::move(r));
}

/// The system default and two spaces, each with a default and two displays:
/// seven slots, plus a top-level display record without "Idle" (an eighth)
/// and the keys a real store carries beside them.
inline plist::Value realisticStore() {
  plist::Dictionary root;
  root.set("SystemDefault", record(true));
  root.set("AllSpacesAndDisplays", plist::Value("$null"));
  plist::Dictionary topDisplays;
  topDisplays.set("37D8832A-2D66-02CA-B9F7-8F30A301B230", record(false));
  root.set("Displays", plist::Value(std::move(topDisplays)));
  plist::Dictionary spaces;
  for (const char* space : {"", "4F1E8C6A-1B1D-4C8E-9E55-0F1C2D3E4A5B"}) {
    plist::Dictionary displays;
    displays.set("Main", record(true));
    displays.set("37D8832A-2D66-02CA-B9F7-8F30A301B230", record(false));  // gains an Idle slot
    plist::Dictionary s;
    s.set("Default", record(true));
    s.set("Displays", plist::Value(std::move(displays)));
    spaces.set(space, plist::Value(std::move(s)));
  }
  root.set("Spaces", plist::Value(std::move(spaces)));
  return plist::Value(std::move(root));
}
constexpr std::int64_t kRealisticStoreSlots = 8;

// The store shapes reported from macOS 14 to 26 (see wallpaper-store-notes.md
// beside the repository). Every "Linked" entry differs (its dates carry
// `n`), so a test can tell which one went where.

inline plist::Value linkedRecord(int n) {
  plist::Dictionary linked = *otherSlot("com.apple.wallpaper.choice.aerials").asDictionary();
  linked.set("LastSet", plist::Value(plist::Date{7.0e8 + n}));
  plist::Dictionary r;
  r.set("Type", plist::Value("linked"));
  r.set("Linked", plist::Value(std::move(linked)));
  return plist::Value(std::move(r));
}

inline plist::Value typedRecord(const char* type, const char* key) {
  plist::Dictionary r;
  r.set("Type", plist::Value(type));
  r.set(key, otherSlot("com.apple.wallpaper.choice.image"));
  return plist::Value(std::move(r));
}

inline plist::Value space(plist::Value spaceDefault, std::vector<plist::Dictionary::Member> displays) {
  return dict({{"Default", std::move(spaceDefault)}, {"Displays", dict(std::move(displays))}});
}

constexpr const char* kDisplayA = "37D8832A-2D66-02CA-B9F7-8F30A301B230";
constexpr const char* kDisplayB = "5C2B7E1D-8A41-4F0B-93D6-2E7A6C1B9F04";
constexpr const char* kDisplayC = "A1E0F6B3-44C2-4D8E-8B7F-1D9C3E5A7B20";
constexpr const char* kSpaceB = "4F1E8C6A-1B1D-4C8E-9E55-0F1C2D3E4A5B";

/// Sonoma with an aerial wallpaper shown as screen saver (the default): the
/// system default, all-spaces and every space's records are "linked". 6 slots.
inline plist::Value sonomaLinkedStore() {
  return dict({{"SystemDefault", linkedRecord(1)},
               {"AllSpacesAndDisplays", linkedRecord(2)},
               {"Displays", dict({})},
               {"Spaces", dict({{"", space(linkedRecord(3), {{"Main", linkedRecord(4)}})},
                                {kSpaceB, space(linkedRecord(5), {{kDisplayA, linkedRecord(6)}})}})}});
}

/// "Show on all Spaces" on: empty "Spaces" and "Displays", the screen saver
/// chosen at "AllSpacesAndDisplays" → "Idle". 2 slots.
inline plist::Value allSpacesStore() {
  return dict({{"SystemDefault", record(true)},
               {"AllSpacesAndDisplays", record(true)},
               {"Displays", dict({})},
               {"Spaces", dict({})}});
}

/// Some records "individual", some "linked", one "desktop", one "idle", and
/// an "individual" without "Idle"; "AllSpacesAndDisplays" is "$null". 7 slots.
inline plist::Value mixedStore() {
  return dict(
      {{"SystemDefault", record(true)},
       {"AllSpacesAndDisplays", str("$null")},
       {"Displays", dict({{kDisplayA, typedRecord("idle", "Idle")}})},
       {"Spaces", dict({{"", space(linkedRecord(1),
                                   {{"Main", record(true)}, {kDisplayA, typedRecord("desktop", "Desktop")}})},
                        {kSpaceB, space(linkedRecord(2), {{kDisplayA, record(false)}})}})}});
}

/// macOS 26.6: Index.plist with 3 records ("AllSpacesAndDisplays" linked, the
/// system default and one top-level display individual)...
inline plist::Value macos26FirstStore() {
  return dict({{"SystemDefault", record(true)},
               {"AllSpacesAndDisplays", linkedRecord(1)},
               {"Displays", dict({{kDisplayA, record(true)}})},
               {"Spaces", dict({})}});
}

/// ...beside Index2.plist with 8, all linked: the system default, the first
/// space's default, three displays in it and three top-level displays.
inline plist::Value macos26SecondStore() {
  return dict(
      {{"SystemDefault", linkedRecord(11)},
       {"AllSpacesAndDisplays", str("$null")},
       {"Displays",
        dict({{kDisplayA, linkedRecord(12)}, {kDisplayB, linkedRecord(13)}, {kDisplayC, linkedRecord(14)}})},
       {"Spaces", dict({{"", space(linkedRecord(15), {{kDisplayA, linkedRecord(16)},
                                                      {kDisplayB, linkedRecord(17)},
                                                      {kDisplayC, linkedRecord(18)}})}})}});
}

/// Records of shapes nobody reported, beside one ordinary system default: a
/// type the installer does not know, a type that is not a string, and a
/// "linked" record without a "Linked" dictionary. 1 slot is set, 3 left alone.
inline plist::Value unknownTypeStore() {
  plist::Dictionary numbered = *record(true).asDictionary();
  numbered.set("Type", plist::Value::integer(2));
  return dict(
      {{"SystemDefault", record(true)},
       {"Spaces",
        dict({{"", space(typedRecord("slideshow", "Idle"),
                         {{kDisplayA, plist::Value(std::move(numbered))},
                          {kDisplayB, dict({{"Type", str("linked")}, {"Linked", str("$null")}})}})}})}});
}

/// `root` with the member at `path` (keys from the top) set to `value`.
// A store whose `spaces` space keys all share one space, whose `displays`
// display keys all share one value: `record` (an idle record) or, for a walk
// that meets no record at all, a string. Written as a binary property list
// each shared container is stored once: spaces * displays slots in a few
// bytes per key, as a crafted file holds them.
inline plist::Value sharedSlotsStore(int spaces, int displays, bool records = true) {
  const plist::Value shared = records ? record(true) : plist::Value("not a record");
  std::vector<plist::Dictionary::Member> displayMembers;
  for (int d = 0; d < displays; ++d) displayMembers.emplace_back("D" + std::to_string(d), shared);
  const plist::Value space = dict({{"Displays", dict(std::move(displayMembers))}});
  std::vector<plist::Dictionary::Member> spaceMembers;
  for (int s = 0; s < spaces; ++s) spaceMembers.emplace_back("S" + std::to_string(s), space);
  return dict({{"Spaces", dict(std::move(spaceMembers))}});
}

inline plist::Value withMember(const plist::Value& root, std::vector<std::string> path, plist::Value value) {
  plist::Dictionary out = *root.asDictionary();
  std::string key = path.front();
  path.erase(path.begin());
  out.set(key,
          path.empty() ? std::move(value) : withMember(*out.find(key), std::move(path), std::move(value)));
  return plist::Value(std::move(out));
}

/// The member at `path` (keys from the top); throws when there is none.
inline const plist::Value& memberAt(const plist::Value& root, const std::vector<std::string>& path) {
  const plist::Value* at = &root;
  for (const std::string& key : path) {
    at = plist::member(*at, key);
    if (!at) throw std::runtime_error("no member " + key);
  }
  return *at;
}

/// `root` with each slot's "Idle" set to what `idleFor` returns for the slot,
/// or taken out where it returns none; every other key as it was.
inline plist::Value withSlotIdles(const plist::Value& root,
                                  const std::function<std::optional<plist::Value>(const Slot&)>& idleFor) {
  return plist::Value(replaceSlotRecords(*root.asDictionary(), [&idleFor](const Slot& slot) {
    std::optional<plist::Value> idle = idleFor(slot);
    plist::Dictionary out;
    if (idle) {
      out = *slot.record;
      out.set("Idle", std::move(*idle));
    } else {
      for (const auto& [key, value] : *slot.record) {
        if (key != "Idle") out.set(key, value);
      }
    }
    return out;
  }));
}

}  // namespace zeph::test_support

#endif  // ZEPH_TESTS_SUPPORT_STORE_BUILDERS_H_
