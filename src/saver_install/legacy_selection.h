#ifndef ZEPH_SAVER_INSTALL_LEGACY_SELECTION_H_
#define ZEPH_SAVER_INSTALL_LEGACY_SELECTION_H_

#include <optional>
#include <string>
#include <string_view>

#include "plist/value.h"

namespace zeph {

/// The legacy screen-saver module selection ("moduleDict" in the current
/// host's com.apple.screensaver preferences) from before zeph, kept so that
/// --uninstall can put it back.

/// The current host's selection as the system has it: on a Mac through
/// CFPreferences for the user running this process, or from the file the
/// system keeps it in when realHome is another user's (root asking about a
/// user); elsewhere through the build's defaults tool. None when nothing is
/// selected or it cannot be read. The effects table's legacySelection, when
/// set, answers instead (a non-dictionary or unreadable answer reads as
/// none). Never throws.
std::optional<plist::Value> currentLegacySelection();

/// Where the system keeps no wallpaper store (macOS 13) the legacy selection
/// alone chooses the screen saver. `line` says whether it names the installed
/// saver and whether the bundle is there; `compliant` is true when both hold.
struct LegacyStatus {
  std::string line;
  bool compliant = false;
};
LegacyStatus legacyStatus();

/// Where the earlier selection is kept: an XML property list in backupFolder().
std::string savedLegacySelectionPath();

/// Keeps the current selection (currentLegacySelection()) unless one
/// is kept already or it names saverDest (an earlier install's own). Nothing
/// is kept when there is no selection or the tool cannot be run. Never throws:
/// a selection that cannot be kept must not stop an install.
void saveLegacySelection();

/// Writes the kept selection back through /usr/bin/defaults and, once that
/// worked, forgets it, so a later install keeps whatever is selected then;
/// with none kept, deletes the current selection when it names saverDest.
/// Never throws.
void restoreLegacySelection();

/// The "moduleDict" dictionary in `exported`, the output of
/// `defaults export DOMAIN -` (a property list), when it is there. Never throws.
std::optional<plist::Value> moduleDictOf(std::string_view exported);

/// Whether the selection `moduleDict` names the bundle at saverDest.
bool namesInstalledSaver(const plist::Value& moduleDict);

}  // namespace zeph

#endif  // ZEPH_SAVER_INSTALL_LEGACY_SELECTION_H_
