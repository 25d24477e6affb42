#include "wallpaper_store/store_document.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "platform/files.h"
#include "plist/error.h"
#include "plist/format.h"
#include "wallpaper_store/store_slots.h"

namespace zeph {

bool storeExists(const std::string& path) { return regularFileExists(path); }

std::vector<std::uint8_t> loadStore(const std::string& path) { return readFile(path); }

plist::Value parseStore(std::span<const std::uint8_t> bytes, const std::string& path) {
  static constexpr std::string_view kBinaryMagic = "bplist";
  const bool binary = bytes.size() >= kBinaryMagic.size() &&
                      std::equal(kBinaryMagic.begin(), kBinaryMagic.end(), bytes.begin());
  try {
    // Bytes with the magic are a binary store, cut short or damaged when the
    // binary reader refuses them; what a text reader makes of them is beside the point.
    plist::Value root = binary ? plist::readAs(bytes, plist::Format::Binary) : plist::read(bytes);
    if (const plist::Dictionary* dictionary = root.asDictionary()) requireSlotsWithinLimit(*dictionary);
    return root;
  } catch (const TooManySlots&) {
    throw TooManySlots(path);
  } catch (const plist::Error& e) {
    std::string problem = e.what();
    if (binary && problem.rfind("binary plist: ", 0) == 0) problem.erase(0, 14);
    throw plist::Error(path + ": " + (binary ? "a damaged binary property list (" + problem + ")" : problem));
  } catch (const std::bad_alloc&) {
    throw plist::Error("not enough memory to read " + path + " (" + std::to_string(bytes.size()) + " bytes)");
  }
}

namespace {

// A store whose time is this close to the moment it was read may be written
// again within the same tick of its file system's clock.
constexpr std::chrono::seconds kCoarseTime{2};

// How often a store that changed since it was read is made again.
constexpr int kMaxRemakes = 3;

PreparedReplacement prepareStore(const StoreUpdate& update) {
  try {
    return prepareReplacement(update.path, update.bytes);
  } catch (const std::system_error& e) {
    throwWriteError(e, "write " + update.path);
  }
}

// Renames `prepared` over `update`'s store once the store is seen unchanged
// since the update was made; a store written meanwhile gets its update made
// again. Returns the folder renamed in, none when a remade update had
// nothing to change; `prepared` is used up either way.
std::optional<std::string> commitWhenUnchanged(std::optional<StoreUpdate>& update,
                                               std::optional<PreparedReplacement>& prepared,
                                               const RemakeUpdate& remake) {
  for (int remakes = 0; update; ++remakes) {
    if (storeUnchangedSince(update->path, update->loaded)) {
      PreparedReplacement ready = *prepared;
      prepared.reset();
      commitReplacement(ready);
      return folderOf(ready.target);
    }
    discardReplacement(*prepared);
    prepared.reset();
    if (remakes == kMaxRemakes) {
      throw std::runtime_error(update->path + " keeps changing while zeph writes it; nothing was changed");
    }
    const std::string path = update->path;
    update = remake(path);
    if (update) prepared = prepareStore(*update);
  }
  return std::nullopt;
}

}  // namespace

void throwWriteError(const std::system_error& e, const std::string& what) {
  if (std::string_view(e.what()).starts_with("create a file in ")) throw e;
  throw std::system_error(e.code(), "couldn't " + what);
}

StoreRead readStoreForChange(const std::string& path) {
  for (int attempt = 0;; ++attempt) {
    const auto readAt = std::chrono::system_clock::now();
    StoreRead read;
    read.stamp = fileStamp(path);
    read.bytes = loadStore(path);
    if (fileStamp(path) != read.stamp) {
      if (attempt == kMaxRemakes) throw std::runtime_error(path + " keeps changing while zeph reads it");
      continue;
    }
    const auto modified =
        std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(read.stamp.modifiedSeconds) +
            std::chrono::nanoseconds(read.stamp.modifiedNanoseconds)));
    read.stampTellsWrites = read.stamp.modifiedNanoseconds != 0 && modified + kCoarseTime < readAt;
    return read;
  }
}

bool storeUnchangedSince(const std::string& path, const StoreRead& read) {
  try {
    if (fileStamp(path) != read.stamp) return false;
    return read.stampTellsWrites || loadStore(path) == read.bytes;
  } catch (const std::exception&) {
    return false;
  }
}

void writeStore(const std::string& path, const plist::Value& root) {
  std::vector<std::uint8_t> bytes = plist::write(root, plist::Format::Binary);
  replaceFile(path, bytes);
}

std::string replaceStores(std::optional<StoreUpdate> second, std::optional<StoreUpdate> first,
                          const RemakeUpdate& remake) {
  std::optional<PreparedReplacement> secondReady;
  std::optional<PreparedReplacement> firstReady;
  std::optional<std::string> secondFolder;
  try {
    if (second) secondReady = prepareStore(*second);
    if (first) firstReady = prepareStore(*first);
    secondFolder = commitWhenUnchanged(second, secondReady, remake);
  } catch (...) {
    if (secondReady) discardReplacement(*secondReady);
    if (firstReady) discardReplacement(*firstReady);
    throw;
  }
  std::optional<std::string> firstFolder;
  try {
    firstFolder = commitWhenUnchanged(first, firstReady, remake);
  } catch (const std::exception& e) {
    if (firstReady) discardReplacement(*firstReady);
    // Half a change is worse than none: which file the agent reads is not known.
    if (secondFolder) {
      try {
        replaceFile(second->path, second->loaded.bytes);
      } catch (const std::exception& back) {
        throw std::runtime_error(std::string(e.what()) + "; putting " + second->path +
                                 " back failed too: " + back.what());
      }
    }
    throw;
  }
  // Both renamed: a failure to make that last changes nothing, but is told.
  std::string lateFailure;
  for (const std::optional<std::string>& folder : {secondFolder, firstFolder}) {
    if (!folder) continue;
    try {
      syncFolder(*folder);
    } catch (const std::exception& e) {
      if (lateFailure.empty()) lateFailure = e.what();
    }
  }
  return lateFailure;
}

}  // namespace zeph
