#include "wallpaper_store/store_document.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string_view>

#include "platform/files.h"
#include "plist/error.h"
#include "plist/format.h"
#include "wallpaper_store/store_slots.h"

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

void writeStore(const std::string& path, const plist::Value& root) {
  std::vector<std::uint8_t> bytes = plist::write(root, plist::Format::Binary);
  replaceFile(path, bytes);
}

void replaceStores(const std::optional<StoreUpdate>& second, const std::optional<StoreUpdate>& first) {
  std::optional<PreparedReplacement> secondReady;
  if (second) secondReady = prepareReplacement(second->path, second->bytes);
  std::optional<PreparedReplacement> firstReady;
  try {
    if (first) firstReady = prepareReplacement(first->path, first->bytes);
  } catch (...) {
    if (secondReady) discardReplacement(*secondReady);
    throw;
  }

  if (secondReady) {
    try {
      commitReplacement(*secondReady);
    } catch (...) {
      if (firstReady) discardReplacement(*firstReady);
      throw;
    }
  }
  if (firstReady) {
    try {
      commitReplacement(*firstReady);
    } catch (const std::exception& e) {
      // Half a change is worse than none: which file the agent reads is not known.
      if (second) {
        try {
          replaceFile(second->path, second->loaded);
        } catch (const std::exception& back) {
          throw std::runtime_error(std::string(e.what()) + "; putting " + second->path +
                                   " back failed too: " + back.what());
        }
      }
      throw;
    }
  }
  // Both renamed: a failure to make that last is reported, but changes nothing.
  if (secondReady) syncFolder(folderOf(secondReady->target));
  if (firstReady) syncFolder(folderOf(firstReady->target));
}

}  // namespace zeph
