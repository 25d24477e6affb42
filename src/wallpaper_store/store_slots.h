#ifndef ZEPH_WALLPAPER_STORE_STORE_SLOTS_H_
#define ZEPH_WALLPAPER_STORE_STORE_SLOTS_H_

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "plist/value.h"

namespace zeph {

/// The walk over the records of a wallpaper store that can hold a screen
/// saver: the one definition of where they are, shared by the rewrite, the
/// counts, the report and the restore.

enum class SlotKind { SystemDefault, AllSpaces, TopDisplay, SpaceDefault, Display };

/// The most slots a store can sensibly have; real stores have dozens. A file
/// that shares one space among many space keys, and one record among many
/// display keys, holds the product of the two in a few bytes per key.
inline constexpr std::int64_t kMaxStoreSlots = 1'000'000;

/// Thrown by every walk of a store's slots as soon as it meets more than
/// kMaxStoreSlots slots, or looks at more than twice as many places (spaces
/// and displays that hold no record count too), so that no walk takes longer
/// than one of a store at the limit. Its message names `where` when given:
/// "<where>: more than 1000000 screensaver slots, more than a store can
/// sensibly have".
class TooManySlots : public std::runtime_error {
 public:
  explicit TooManySlots(const std::string& where = {});
};

/// Throws TooManySlots when `root` holds more slots than a walk takes: one
/// walk that counts, bounded as every walk is.
void requireSlotsWithinLimit(const plist::Dictionary& root);

/// Which of a record's entries the system reads, by its "Type": "individual"
/// and "idle" records (and records without a type) read "Idle"; a "linked"
/// record shows its one "Linked" entry as desktop and screen saver alike; a
/// "desktop" record has no screen saver. Anything else (another type, a type
/// that is not a string, a "linked" record whose "Linked" is not a
/// dictionary) is a shape nobody has reported, and is left alone.
enum class RecordShape { ReadsIdle, Linked, DesktopOnly, Unknown };

RecordShape recordShape(const plist::Dictionary& record);

/// One record met by the walk: a place that can hold a screen saver. Views
/// point into the walked document.
struct Slot {
  SlotKind kind;
  std::string_view space;           // the space identifier; empty unless a space's slot
  std::string_view display;         // the display identifier; empty unless a display slot
  const plist::Dictionary* record;  // the record itself, never nullptr
  const plist::Value* idle;         // the record's "Idle" value, nullptr when the key is absent

  /// The idle entry when it is a dictionary, else nullptr (an absent entry).
  const plist::Dictionary* idleEntry() const { return idle ? idle->asDictionary() : nullptr; }
  RecordShape shape() const { return recordShape(*record); }
  /// Whether the system reads this slot's "Idle": only such slots count.
  bool readsIdle() const { return shape() == RecordShape::ReadsIdle; }
  /// The idle entry the system reads from this slot: idleEntry() when the
  /// record's type reads "Idle", else nullptr (an "Idle" not read shows nothing).
  const plist::Dictionary* readIdleEntry() const { return readsIdle() ? idleEntry() : nullptr; }
};

/// What the system shows from `record` as screen saver: its "Idle" when its
/// type reads it, the "Linked" entry of a linked record; nullptr for a
/// desktop-only record, a shape left alone, or an absent "Idle".
const plist::Value* shownScreenSaver(const plist::Dictionary& record);

/// Whether the system shows the installed saver from `slot`: the entry it
/// reads (Slot::readIdleEntry()) selects saverDest (selectsInstalledSaver()).
/// The one test of the re-count, the removal and the status command.
bool slotShowsSaver(const Slot& slot);

/// Calls `visit` for every record of `root` that is a dictionary: the system
/// default, "AllSpacesAndDisplays" (which can be the string "$null"), each
/// member of the top-level "Displays", then for each space that is a
/// dictionary its "Default" before each member of its "Displays". Displays
/// and spaces come in key order. Nothing else of the tree is read. Throws
/// TooManySlots past the limit, having visited at most kMaxStoreSlots.
void forEachSlot(const plist::Dictionary& root, const std::function<void(const Slot&)>& visit);

/// `root` with every record that forEachSlot() visits replaced by what
/// `replace` returns for it (called in the same order). The same walk: a slot
/// is counted, reported and rewritten alike, and refused alike (TooManySlots).
plist::Dictionary replaceSlotRecords(const plist::Dictionary& root,
                                     const std::function<plist::Dictionary(const Slot&)>& replace);

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_STORE_SLOTS_H_
