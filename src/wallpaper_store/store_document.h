#ifndef ZEPH_WALLPAPER_STORE_STORE_DOCUMENT_H_
#define ZEPH_WALLPAPER_STORE_STORE_DOCUMENT_H_

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "plist/value.h"

namespace zeph {

/// The wallpaper store file: reading it (presence test, load, parse), writing
/// it back (binary encoding, then an all-or-nothing replacement of the file)
/// and the walk over its idle slots that the rewrite, the count and the report
/// share. The caller owns every value; nothing here keeps state between calls.

/// Whether a store is at `path` (the presence test). False only when nothing
/// is there, as for a new account or a system with no store folder yet.
/// Anything else that keeps the installer from looking (permission denied,
/// a loop or dangling link, a component that is not a folder, a name too
/// long, an I/O error, an item that is not a regular file) throws, naming
/// the path and the cause.
bool storeExists(const std::string& path);

/// The store's bytes, exactly as stored. Only a regular file of at most
/// kMaxReadBytes is read; a FIFO or device is never opened. Throws
/// std::system_error or std::runtime_error naming the path.
std::vector<std::uint8_t> loadStore(const std::string& path);

/// The document in `bytes`, in whichever format they are, read from `path`.
/// Throws plist::Error whose message starts with `path`; bytes that start
/// with the binary magic are reported as a damaged binary property list,
/// whatever the text readers would make of them.
plist::Value parseStore(std::span<const std::uint8_t> bytes, const std::string& path);

/// Encodes `root` as a binary property list and puts it at `path` so that a
/// reader sees the old or the new store, never a mix; a symbolic link at
/// `path` is kept and the file it points to replaced. Throws plist::Error or
/// std::system_error, leaving the store as it was.
void writeStore(const std::string& path, const plist::Value& root);

/// The clock's current time as the store keeps dates.
plist::Date currentDate();

/// `date` in the ISO 8601 internet form in UTC, to the whole second (the
/// fraction is dropped): "2026-12-06T21:21:43Z".
std::string isoTimestamp(plist::Date date);

enum class SlotKind { SystemDefault, AllSpaces, TopDisplay, SpaceDefault, Display };

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
  std::string_view space;    // the space identifier; empty unless a space's slot
  std::string_view display;  // the display identifier; empty unless a display slot
  const plist::Dictionary* record;  // the record itself, never nullptr
  const plist::Value* idle;  // the record's "Idle" value, nullptr when the key is absent

  /// The idle entry when it is a dictionary, else nullptr (an absent entry).
  const plist::Dictionary* idleEntry() const { return idle ? idle->asDictionary() : nullptr; }
  RecordShape shape() const { return recordShape(*record); }
  /// Whether the system reads this slot's "Idle": only such slots count.
  bool readsIdle() const { return shape() == RecordShape::ReadsIdle; }
};

/// Whether the system shows the installed saver from `slot`: its type reads
/// "Idle" and its "Idle" selects saverDest (selectsInstalledSaver()). The one
/// test of the re-count, the removal and the status command.
bool slotSelectsSaver(const Slot& slot);

/// Calls `visit` for every record of `root` that is a dictionary: the system
/// default, "AllSpacesAndDisplays" (which can be the string "$null"), each
/// member of the top-level "Displays", then for each space that is a
/// dictionary its "Default" before each member of its "Displays". Displays
/// and spaces come in key order. Nothing else of the tree is read.
void forEachSlot(const plist::Dictionary& root, const std::function<void(const Slot&)>& visit);

/// `root` with every record that forEachSlot() visits replaced by what
/// `replace` returns for it (called in the same order). The same walk: a slot
/// is counted, reported and rewritten alike.
plist::Dictionary replaceSlotRecords(const plist::Dictionary& root,
                                     const std::function<plist::Dictionary(const Slot&)>& replace);

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_STORE_DOCUMENT_H_
