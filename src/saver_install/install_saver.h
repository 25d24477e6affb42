#ifndef ZEPH_SAVER_INSTALL_INSTALL_SAVER_H_
#define ZEPH_SAVER_INSTALL_INSTALL_SAVER_H_

#include <optional>
#include <string>
#include <vector>

namespace zeph {

/// The folder the saver is installed in: saverDest's parent, the user's
/// "Screen Savers" folder.
std::string screenSaversFolder();

/// What a run stopped in the middle of a swap of two renames (on a file
/// system that cannot exchange two names in one step) left instead of the
/// installed bundle: nothing at saverDest, and beside it the complete new copy
/// (".zeph.saver.new-<pid>" with ".zeph.saver.old-<pid>") or, failing that,
/// the old one. Its path, or none when saverDest is there or no copy is.
/// Never throws.
std::optional<std::string> interruptedSaverCopy();

/// Puts interruptedSaverCopy() at saverDest, when there is one; what else
/// was left is for installSaver() and removeSaver() to clear. Call it only
/// while holding the home's lock. Throws std::system_error.
void restoreInterruptedSaver();

/// The path of the saver bundle this installer carries. Throws
/// InstallerError (code 1) when it is missing.
std::string carriedSaver();

/// Copies the carried saver bundle to saverDest, replacing any earlier copy
/// in one step: the copy is made and flushed in a hidden sibling folder
/// (".zeph.saver.new-<pid>", which System Settings does not list), then
/// swapped in, and the old copy removed. A failure at any point leaves the
/// old bundle as it was and nothing half-made at saverDest. Removes what
/// earlier, interrupted runs left in the folder first, so call it only while
/// holding the home's lock. Throws InstallerError (code 1) when the bundle
/// is missing, std::system_error otherwise.
void installSaver();

/// Removes the installed bundle at saverDest (what earlier, interrupted runs
/// left beside it too): it leaves the list of savers in one rename first.
/// Returns whether there was one. Call it only while holding the home's
/// lock. Throws std::system_error when it cannot be taken out of the list.
bool removeSaver();

/// Whether a saver bundle (a folder) is installed at saverDest.
bool saverInstalled();

/// Names the installed bundle as the legacy screen-saver module through the
/// build's defaults tool (/usr/bin/defaults unless a test build names a
/// stand-in), run through run() and so through the effects table's
/// runProgram when one is set. Never throws; returns whether the tool
/// reported success.
bool selectLegacyModule();

}  // namespace zeph

#endif  // ZEPH_SAVER_INSTALL_INSTALL_SAVER_H_
