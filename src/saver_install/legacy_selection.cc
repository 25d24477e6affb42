#include "saver_install/legacy_selection.h"

#if defined(__APPLE__)
#include <CoreFoundation/CoreFoundation.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <ctime>
#endif

#include <cstdint>
#include <cstdio>
#include <exception>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/process_values.h"
#include "base/system_effects.h"
#include "platform/child_process.h"
#include "platform/files.h"
#include "platform/home.h"
#include "plist/format.h"
#include "saver_install/copy_tree.h"
#include "saver_install/install_saver.h"
#include "wallpaper_store/store_backups.h"

#ifndef ZEPH_DEFAULTS_PROGRAM
#define ZEPH_DEFAULTS_PROGRAM "/usr/bin/defaults"
#endif

namespace zeph {
namespace {

// The build's defaults tool: a test build on a Mac names a stand-in, since the
// real one writes the current host's preferences whatever HOME says.
constexpr const char* kDefaults = ZEPH_DEFAULTS_PROGRAM;
constexpr const char* kDomain = "com.apple.screensaver";
constexpr const char* kKey = "moduleDict";
constexpr const char* kSavedStem = "legacy-screensaver-module";
constexpr const char* kSavedExtension = ".plist";

#if defined(__APPLE__)
// Another user's selection, as root asks for it: CFPreferences reads only the
// running user's, so the file the system keeps it in is read instead,
// ~/Library/Preferences/ByHost/com.apple.screensaver.<hardware UUID>.plist.
std::optional<plist::Value> selectionOfAnotherUser() {
  uuid_t id{};
  const timespec wait{1, 0};
  if (::gethostuuid(id, &wait) != 0) return std::nullopt;
  uuid_string_t text{};
  ::uuid_unparse_upper(id, text);
  const std::string path = realHome + "/Library/Preferences/ByHost/" + kDomain + "." + text + ".plist";
  try {
    std::vector<std::uint8_t> bytes = readFile(path);
    return moduleDictOf(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  } catch (const std::exception&) {
    return std::nullopt;  // none written yet, or unreadable: nothing selected that we can tell
  }
}

// The preference as the system reads it, written out as XML for the parser
// that reads every other property list here.
std::optional<plist::Value> systemSelection() {
  if (currentUserHome() != realHome) return selectionOfAnotherUser();
  CFPropertyListRef value = CFPreferencesCopyValue(CFSTR("moduleDict"), CFSTR("com.apple.screensaver"),
                                                   kCFPreferencesCurrentUser, kCFPreferencesCurrentHost);
  if (value == nullptr) return std::nullopt;
  std::optional<plist::Value> selection;
  if (CFGetTypeID(value) == CFDictionaryGetTypeID()) {
    CFDataRef xml =
        CFPropertyListCreateData(kCFAllocatorDefault, value, kCFPropertyListXMLFormat_v1_0, 0, nullptr);
    if (xml != nullptr) {
      try {
        selection =
            plist::read(std::span(CFDataGetBytePtr(xml), static_cast<std::size_t>(CFDataGetLength(xml))));
      } catch (const std::exception&) {
        selection.reset();
      }
      CFRelease(xml);
    }
  }
  CFRelease(value);
  return selection;
}
#else
std::optional<plist::Value> systemSelection() {
  CapturedRun exported = runCapturing(kDefaults, {"-currentHost", "export", kDomain, "-"});
  if (exported.status != 0) return std::nullopt;
  return moduleDictOf(exported.output);
}
#endif

// The effects table's selection: property-list bytes, read as the system's are.
std::optional<plist::Value> replacedSelection(const std::optional<std::vector<std::uint8_t>>& bytes) {
  if (!bytes) return std::nullopt;
  try {
    plist::Value selection = plist::read(*bytes);
    if (!selection.asDictionary()) return std::nullopt;
    return selection;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace

std::optional<plist::Value> currentLegacySelection() {
  if (const auto& replaced = systemEffects().legacySelection) return replacedSelection(replaced());
  return systemSelection();
}

LegacyStatus legacyStatus() {
  std::optional<plist::Value> selection = currentLegacySelection();
  LegacyStatus status;
  const bool selected = selection && namesInstalledSaver(*selection);
  const bool installed = saverInstalled();
  status.line =
      std::string(selected ? "zeph is" : "zeph is not") + " the screen saver (macOS 13: no wallpaper store)";
  if (!installed) status.line += "; the saver is missing from " + saverDest;
  status.compliant = selected && installed;
  return status;
}

std::string savedLegacySelectionPath() { return backupFolder() + "/" + kSavedStem + kSavedExtension; }

std::optional<plist::Value> moduleDictOf(std::string_view exported) {
  try {
    auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(exported.data()), exported.size());
    plist::Value document = plist::read(bytes);
    const plist::Value* selection = plist::member(document, kKey);
    if (!selection || !selection->asDictionary()) return std::nullopt;
    return *selection;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

bool namesInstalledSaver(const plist::Value& moduleDict) {
  const plist::Value* path = plist::member(moduleDict, "path");
  if (!path || !path->asString()) return false;
  std::string named = *path->asString();
  while (named.size() > 1 && named.back() == '/') named.pop_back();
  return named == saverDest;
}

void saveLegacySelection() {
  try {
    if (pathExists(savedLegacySelectionPath())) return;  // the selection from before the first install
    std::optional<plist::Value> selection = currentLegacySelection();
    // Our own selection is no earlier one: putting it back would undo nothing.
    if (!selection || namesInstalledSaver(*selection)) return;
    createFolders(backupFolder());
    std::vector<std::uint8_t> xml = plist::write(*selection, plist::Format::Xml);
    writeNewFile(backupFolder(), kSavedStem, kSavedExtension, xml, 0600);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "warning: couldn't keep the earlier screen saver selection: %s\n", e.what());
  }
}

void restoreLegacySelection() {
  try {
    if (regularFileExists(savedLegacySelectionPath())) {
      std::vector<std::uint8_t> saved = readFile(savedLegacySelectionPath());
      plist::Value selection = plist::read(saved);
      if (!selection.asDictionary())
        throw std::runtime_error(savedLegacySelectionPath() + ": not a dictionary");
      std::vector<std::uint8_t> xml = plist::write(selection, plist::Format::Xml);
      // defaults takes a property list as the value; no shell reads it.
      if (run(kDefaults, {"-currentHost", "write", kDomain, kKey, std::string(xml.begin(), xml.end())}) ==
          0) {
        // Written back: a later install keeps whatever is selected then.
        removeTree(savedLegacySelectionPath());
      }
      return;
    }
    std::optional<plist::Value> selection = currentLegacySelection();
    if (selection && namesInstalledSaver(*selection))
      run(kDefaults, {"-currentHost", "delete", kDomain, kKey});
  } catch (const std::exception& e) {
    std::fprintf(stderr, "warning: couldn't put the earlier screen saver selection back: %s\n", e.what());
  }
}

}  // namespace zeph
