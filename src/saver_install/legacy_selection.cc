#include "saver_install/legacy_selection.h"

#include <cstdio>
#include <exception>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/process_values.h"
#include "platform/child_process.h"
#include "platform/files.h"
#include "plist/format.h"
#include "saver_install/copy_tree.h"
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

std::optional<plist::Value> currentSelection() {
  CapturedRun exported = runCapturing(kDefaults, {"-currentHost", "export", kDomain, "-"});
  if (exported.status != 0) return std::nullopt;
  return moduleDictOf(exported.output);
}

}  // namespace

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
    std::optional<plist::Value> selection = currentSelection();
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
    std::optional<plist::Value> selection = currentSelection();
    if (selection && namesInstalledSaver(*selection))
      run(kDefaults, {"-currentHost", "delete", kDomain, kKey});
  } catch (const std::exception& e) {
    std::fprintf(stderr, "warning: couldn't put the earlier screen saver selection back: %s\n", e.what());
  }
}

}  // namespace zeph
