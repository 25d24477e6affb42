#include "wallpaper_store/store_change.h"

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <utility>

#include "base/installer_error.h"
#include "plist/format.h"
#include "wallpaper_store/store_document.h"
#include "wallpaper_store/store_slots.h"

namespace zeph {
namespace {

// What keeps a best-effort store (Index2.plist) from use: "<path>: <reason>".
class UnusableStore : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A store as loaded for a change: its bytes and its document, a dictionary.
struct LoadedStore {
  StoreRead read;
  plist::Value document;
};

// Loads `store`, backs it up and parses it. The backup holds the bytes as
// loaded and is on the disk before the store is touched; it is no more
// readable than the store. A store over the slot limit gets none: each
// later look at the backups would meet it.
LoadedStore loadAndBackUp(const StoreFile& store) {
  auto unusable = [&store](const std::exception& e) {
    if (store.bestEffort) throw UnusableStore(problemWith(store.path, e));
  };
  LoadedStore loaded;
  try {
    loaded.read = readStoreForChange(store.path);
  } catch (const std::exception& e) {
    unusable(e);
    throw;
  }
  std::exception_ptr unparsed;
  try {
    loaded.document = parseStore(loaded.read.bytes, store.path);
  } catch (const TooManySlots& e) {
    unusable(e);
    throw;
  } catch (...) {
    unparsed = std::current_exception();
  }
  backUpStore(store, loaded.read.bytes);
  if (unparsed) {
    try {
      std::rethrow_exception(unparsed);
    } catch (const std::exception& e) {
      unusable(e);
      throw;
    }
  }
  if (!loaded.document.asDictionary()) {
    unusable(std::runtime_error("the top level is not a dictionary"));
    throw InstallerError(2, "Couldn't read the macOS screensaver settings file.");
  }
  return loaded;
}

// One store's part in a change of both: its new bytes (none when nothing in
// it changes) and what the edit did.
struct StorePart {
  std::optional<StoreUpdate> update;
  StoreEdit edit;
};

// Loads, backs up and edits `store`, and encodes what the edit made. The
// bytes as loaded are kept only where they are needed: to put the store
// back (`keepLoaded`), or to tell a later write by another program.
StorePart changeOne(const StoreFile& store, bool keepLoaded, std::string_view done, const StoreEditor& edit) {
  LoadedStore loaded = loadAndBackUp(store);
  const std::uint64_t storeSize = loaded.read.bytes.size();
  if (!keepLoaded && !loaded.read.bytesNeededToCompare()) {
    std::vector<std::uint8_t>().swap(loaded.read.bytes);  // before the new bytes are made
  }
  StorePart part;
  part.edit = edit(store, *loaded.document.asDictionary());
  if (!part.edit.document) return part;
  std::vector<std::uint8_t> bytes =
      plist::write(plist::Value(std::move(*part.edit.document)), plist::Format::Binary);
  part.edit.document.reset();
  const std::uint64_t limit = 64 * storeSize + (std::uint64_t{64} << 20);
  if (bytes.size() > limit) {
    throw std::runtime_error(store.path + ": " + std::string(done) + ", the store would grow from " +
                             std::to_string(storeSize) + " to " + std::to_string(bytes.size()) +
                             " bytes; it was left as it was");
  }
  part.update = StoreUpdate{store.path, std::move(bytes), std::move(loaded.read)};
  return part;
}

void warnLeftUnchanged(const std::string& problem) {
  std::fprintf(stderr, "warning: %s; left unchanged\n", problem.c_str());
}

}  // namespace

StoreChangeReport changeStores(std::string_view done, const StoreEditor& edit) {
  const StoreFile first = firstStore();
  const StoreFile second = secondStore();
  const bool hasFirst = storeExists(first.path);
  // Index2.plist never stops what Index.plist needs: one that cannot be used is left as it is.
  auto changeSecond = [&]() -> StorePart {
    try {
      return changeOne(second, hasFirst, done, edit);
    } catch (const UnusableStore& e) {
      warnLeftUnchanged(e.what());
      return {};
    }
  };
  auto changeFirst = [&] { return changeOne(first, false, done, edit); };
  StorePart secondPart;
  bool hasSecond = false;
  try {
    hasSecond = storeExists(second.path);
  } catch (const std::exception& e) {
    warnLeftUnchanged(problemWith(second.path, e));
  }
  if (hasSecond) secondPart = changeSecond();
  StorePart firstPart;
  if (hasFirst) firstPart = changeFirst();
  StoreChangeReport report;
  if (secondPart.update || firstPart.update) {
    // A store written by someone else meanwhile is changed again from its new bytes.
    auto remake = [&](const std::string& path) {
      StorePart& remade = path == second.path ? secondPart : firstPart;
      remade = path == second.path ? changeSecond() : changeFirst();
      return std::move(remade.update);
    };
    report.lateFailure = replaceStores(std::move(secondPart.update), std::move(firstPart.update), remake);
  }
  report.slots = {firstPart.edit.slots, secondPart.edit.slots};
  // Each store has a backup series of its own: the two lists never share a path.
  for (StorePart* part : {&secondPart, &firstPart}) {
    for (std::string& path : part->edit.backupsUsed) report.backupsUsed.push_back(std::move(path));
  }
  return report;
}

}  // namespace zeph
