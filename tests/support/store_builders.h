#ifndef ZEPH_TESTS_SUPPORT_STORE_BUILDERS_H_
#define ZEPH_TESTS_SUPPORT_STORE_BUILDERS_H_

/// Small builders of property-list values and of wallpaper stores shaped like
/// the ones real Macs carry.

#include <cstdint>
#include <utility>
#include <vector>

#include "plist/value.h"

namespace zeph::testing {

inline plist::Value dict(std::vector<plist::Dictionary::Member> members) {
  return plist::Value(plist::Dictionary::fromMembers(std::move(members), plist::DuplicateKeys::KeepFirst));
}
inline plist::Value array(std::vector<plist::Value> items) { return plist::Value(plist::Array(std::move(items))); }
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
/// seven idle slots, plus the keys a real store carries beside them.
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
constexpr std::int64_t kRealisticStoreSlots = 7;

}  // namespace zeph::testing

#endif  // ZEPH_TESTS_SUPPORT_STORE_BUILDERS_H_
