#ifndef ZEPH_WALLPAPER_STORE_STORE_DOCUMENT_H_
#define ZEPH_WALLPAPER_STORE_STORE_DOCUMENT_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

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
/// with the binary magic are reported as a damaged binary property list,
/// whatever the text readers would make of them. A dictionary holding more
/// slots than a store can have throws TooManySlots naming `path`, in time
/// bounded by the limit, however much the file shares.
plist::Value parseStore(std::span<const std::uint8_t> bytes, const std::string& path);

/// Encodes `root` as a binary property list and puts it at `path` so that a
/// reader sees the old or the new store, never a mix; a symbolic link at
/// `path` is kept and the file it points to replaced. Throws plist::Error or
/// std::system_error, leaving the store as it was.
void writeStore(const std::string& path, const plist::Value& root);

/// A store's new bytes, and the bytes it had when loaded.
struct StoreUpdate {
  std::string path;
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint8_t> loaded;  // needed only for the second store, to put it back
};

/// Puts both updates in place as one change, as far as two files allow: both
/// new files are written and flushed before either is renamed into place,
/// Index2.plist's (`second`) first; when `first` then cannot be renamed,
/// `second`'s store is put back as it was loaded, and the error is thrown. A
/// run killed between the two renames leaves the second store new and the
/// first old, which the next run repairs by writing both. Throws
/// std::system_error or std::runtime_error, naming the path.
void replaceStores(const std::optional<StoreUpdate>& second, const std::optional<StoreUpdate>& first);

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_STORE_DOCUMENT_H_
