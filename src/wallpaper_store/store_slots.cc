#include "wallpaper_store/store_slots.h"

#include <string>
#include <utility>

#include "wallpaper_store/idle_entry.h"

namespace zeph {

RecordShape recordShape(const plist::Dictionary& record) {
  const plist::Value* type = record.find("Type");
  if (!type) return RecordShape::ReadsIdle;
  const std::string* name = type->asString();
  if (!name) return RecordShape::Unknown;
  if (*name == "individual" || *name == "idle") return RecordShape::ReadsIdle;
  if (*name == "desktop") return RecordShape::DesktopOnly;
  if (*name == "linked" && plist::dictionaryMember(record, "Linked")) return RecordShape::Linked;
  return RecordShape::Unknown;
}

const plist::Value* shownScreenSaver(const plist::Dictionary& record) {
  switch (recordShape(record)) {
    case RecordShape::ReadsIdle:
      return record.find("Idle");
    case RecordShape::Linked:
      return record.find("Linked");
    case RecordShape::DesktopOnly:
    case RecordShape::Unknown:
      break;
  }
  return nullptr;
}

bool slotShowsSaver(const Slot& slot) { return selectsInstalledSaver(slot.readIdleEntry()); }

TooManySlots::TooManySlots(const std::string& where)
    : std::runtime_error((where.empty() ? "" : where + ": ") + "more than " + std::to_string(kMaxStoreSlots) +
                         " screensaver slots, more than a store can sensibly have") {}

namespace {

// Counts what a walk looks at and stops it past the limit. Shared
// containers are looked at once per place they are referenced from, which is
// what a walk costs and what a rewrite spells out.
class WalkBudget {
 public:
  void place() {
    if (++places_ > 2 * kMaxStoreSlots) throw TooManySlots();
  }
  void slot() {
    if (++slots_ > kMaxStoreSlots) throw TooManySlots();
  }

 private:
  std::int64_t places_ = 0;  // members of "Spaces" and of each "Displays" looked at
  std::int64_t slots_ = 0;   // records visited
};

// The one definition of where the slots are. `onSlot` meets every record in
// order; when rebuilding, what it returns replaces the record, each changed
// dictionary is stored back into its parent, and `changedRoot` receives the
// new tree. Only what lies on the way to a record is copied.
template <bool kRebuild, typename OnSlot>
void walkSlots(const plist::Dictionary& root, OnSlot&& onSlot, plist::Dictionary* changedRoot) {
  WalkBudget budget;
  auto visit = [&onSlot, &budget](const plist::Dictionary& record, SlotKind kind, std::string_view space,
                                  std::string_view display, plist::Dictionary* parent,
                                  const std::string& key) {
    budget.slot();
    Slot slot{kind, space, display, &record, record.find("Idle")};
    if constexpr (kRebuild) {
      parent->set(key, plist::Value(onSlot(slot)));
    } else {
      (void)parent, (void)key;
      onSlot(slot);
    }
  };
  // The records under `holder` → "Displays" (the root's, or a space's).
  auto visitDisplays = [&visit, &budget](const plist::Dictionary& holder, SlotKind kind,
                                         std::string_view space, plist::Dictionary* changedHolder) {
    const plist::Dictionary* displays = plist::dictionaryMember(holder, "Displays");
    if (!displays) return;
    plist::Dictionary changedDisplays;
    if constexpr (kRebuild) changedDisplays = *displays;
    for (const auto& [displayId, displayValue] : *displays) {
      budget.place();
      if (const plist::Dictionary* display = displayValue.asDictionary()) {
        visit(*display, kind, space, displayId, &changedDisplays, displayId);
      }
    }
    if constexpr (kRebuild) {
      changedHolder->set("Displays", plist::Value(std::move(changedDisplays)));
    } else {
      (void)changedHolder;
    }
  };

  for (auto [key, kind] : {std::pair{"SystemDefault", SlotKind::SystemDefault},
                           std::pair{"AllSpacesAndDisplays", SlotKind::AllSpaces}}) {
    if (const plist::Dictionary* record = plist::dictionaryMember(root, key)) {
      visit(*record, kind, {}, {}, changedRoot, key);
    }
  }
  visitDisplays(root, SlotKind::TopDisplay, {}, changedRoot);

  const plist::Dictionary* spaces = plist::dictionaryMember(root, "Spaces");
  if (!spaces) return;
  plist::Dictionary changedSpaces;
  if constexpr (kRebuild) changedSpaces = *spaces;
  for (const auto& [spaceId, spaceValue] : *spaces) {
    budget.place();
    const plist::Dictionary* space = spaceValue.asDictionary();
    if (!space) continue;
    plist::Dictionary changedSpace;
    if constexpr (kRebuild) changedSpace = *space;
    if (const plist::Dictionary* spaceDefault = plist::dictionaryMember(*space, "Default")) {
      visit(*spaceDefault, SlotKind::SpaceDefault, spaceId, {}, &changedSpace, "Default");
    }
    visitDisplays(*space, SlotKind::Display, spaceId, &changedSpace);
    if constexpr (kRebuild) changedSpaces.set(spaceId, plist::Value(std::move(changedSpace)));
  }
  if constexpr (kRebuild) changedRoot->set("Spaces", plist::Value(std::move(changedSpaces)));
}

}  // namespace

void requireSlotsWithinLimit(const plist::Dictionary& root) {
  walkSlots<false>(
      root, [](const Slot&) {}, nullptr);
}

void forEachSlot(const plist::Dictionary& root, const std::function<void(const Slot&)>& visit) {
  walkSlots<false>(root, visit, nullptr);
}

plist::Dictionary replaceSlotRecords(const plist::Dictionary& root,
                                     const std::function<plist::Dictionary(const Slot&)>& replace) {
  plist::Dictionary changed = root;
  walkSlots<true>(root, replace, &changed);
  return changed;
}

}  // namespace zeph
