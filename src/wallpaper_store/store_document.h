#ifndef ZEPH_WALLPAPER_STORE_STORE_DOCUMENT_H_
#define ZEPH_WALLPAPER_STORE_STORE_DOCUMENT_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "platform/files.h"
#include "plist/value.h"

namespace zeph {

/// The wallpaper store file: reading it (presence test, load, parse) and
/// writing it back (binary encoding, then an all-or-nothing replacement of the
/// file, or of both stores together). The caller owns every value; nothing
/// here keeps state between calls.

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
/// with the binary magic ("bplist") are read as binary alone and reported as
/// a damaged binary property list with the binary reader's reason. A
/// dictionary holding more slots than a store can have throws TooManySlots
/// naming `path`, in time bounded by the limit, however much the file shares.
plist::Value parseStore(std::span<const std::uint8_t> bytes, const std::string& path);

/// Encodes `root` as a binary property list and puts it at `path` so that a
/// reader sees the old or the new store, never a mix; a symbolic link at
/// `path` is kept and the file it points to replaced. Throws plist::Error or
/// std::system_error, leaving the store as it was.
void writeStore(const std::string& path, const plist::Value& root);

/// Throws the file layer's write error `e` as "couldn't <what>: <cause>":
/// it names the hidden file it was writing, which means nothing to the user.
/// A folder that could not take a new file is named as it was.
[[noreturn]] void throwWriteError(const std::system_error& e, const std::string& what);

/// A store's bytes as read for a change, and what the file was then, to tell
/// before it is replaced whether anyone has written it since.
struct StoreRead {
  std::vector<std::uint8_t> bytes;
  FileStamp stamp;
  /// False when the store had changed just before it was read (or its file
  /// system keeps whole seconds): a later write may then leave the same
  /// stamp, and only the bytes tell.
  bool stampTellsWrites = true;
  /// Whether `bytes` must be kept until the store is replaced.
  bool bytesNeededToCompare() const { return !stampTellsWrites; }
};

/// loadStore() for a change: the bytes with the stamp they were read under.
/// A store written while it is read is read again. Throws as loadStore().
StoreRead readStoreForChange(const std::string& path);

/// Whether the store at `path` is still the one `read` holds: the same
/// file, size and time, and the same bytes where the time cannot tell.
/// Anything that keeps it from view counts as a change. Never throws.
bool storeUnchangedSince(const std::string& path, const StoreRead& read);

/// A store's new bytes, and the store as they were made from (its bytes kept
/// when needed: to put the second store back, or to compare).
struct StoreUpdate {
  std::string path;
  std::vector<std::uint8_t> bytes;
  StoreRead loaded;
};

/// Makes the update of the store at `path` again, from the store as it is on
/// the disk now; none when nothing in it needs changing any more.
using RemakeUpdate = std::function<std::optional<StoreUpdate>(const std::string& path)>;

/// Puts both updates in place as one change, as far as two files allow: both
/// new files are written and flushed before either is renamed into place,
/// Index2.plist's (`second`) first. Right before each rename the store is
/// checked to be the one its update was made from (storeUnchangedSince()):
/// one that another program wrote meanwhile is made again by `remake` from
/// its new bytes, at most three times, then it throws "<path> keeps changing
/// while zeph writes it; nothing was changed". When `first` cannot be put in
/// place, `second`'s store is put back as it was loaded, and the error is
/// thrown. A run killed between the two renames leaves the second store new
/// and the first old, which the next run repairs by writing both. Write
/// errors read "couldn't write <store>: <cause>". Throws std::system_error
/// or std::runtime_error, naming the path, and what `remake` throws.
/// Returns what failed once both were renamed (the flush of their folder,
/// which makes the renames last), empty when nothing did: the stores are
/// changed then.
std::string replaceStores(std::optional<StoreUpdate> second, std::optional<StoreUpdate> first,
                          const RemakeUpdate& remake);

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_STORE_DOCUMENT_H_
