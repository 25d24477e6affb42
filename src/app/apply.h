#ifndef ZEPH_APP_APPLY_H_
#define ZEPH_APP_APPLY_H_

#include <cstdint>
#include <string>

#include "platform/run_lock.h"
#include "wallpaper_store/store_change.h"

namespace zeph {

/// What an interactive run shows while applyEverything() works.
inline const std::string kInstallingStatus = "Installing\u2026";

/// The result line of --apply, without its line feed: "installed <bundle>;
/// <count> screensaver slots set to zeph", or where the system keeps no
/// wallpaper store, "installed <bundle>; selected as the screen saver
/// (macOS 13: no wallpaper store)".
std::string applyResultLine(std::int64_t count);

/// Takes the lock that lets one run at a time change this home: the
/// ScopedRunLock of "~/Library/Screen Savers/.zeph.lock" (the folder must
/// exist), waiting up to 30 s for another run; an interactive run says so on
/// its status meanwhile. Throws "another zeph-installer run is working on
/// <home>" when it is still held. Every command that changes the store or the
/// bundle holds it throughout; none that only looks takes it.
ScopedRunLock lockHome();

/// Puts back a bundle that a run stopped in the middle of its swap left aside
/// (restoreInterruptedSaver()), installs the saver, selects it, rewrites the stores, restarts the wallpaper
/// agent, re-counts both stores after a pause and rewrites both once more if
/// either count fell, all under lockHome(). Keeps the legacy selection from
/// before the first install (saveLegacySelection()). A run that set at least
/// one slot leaves the marker "applied" in the backup folder, which the login
/// agent of a managed install looks for. Once the lock is taken, a first
/// Ctrl-C of an interactive run lets the install finish (the dialog backend's
/// interruptWasHeld() tells the caller). Returns the Index.plist count of the
/// last rewrite; errors pass through unchanged. A failure after a store was
/// renamed into place skips none of the steps that follow; the run throws
/// "<failure>; the stores were already changed" at the end.
/// Where the system keeps no wallpaper store (systemKeepsWallpaperStore()),
/// the run ends after the legacy selection: it throws when the preferences
/// tool failed, else leaves the marker and returns 0.
std::int64_t applyEverything();

/// Replaces an installed saver bundle with the one this installer carries
/// (installSaver(), under lockHome()), touching no store and no preference:
/// what a package upgrade does for a home that has had zeph applied. Returns
/// false, having changed nothing, when no bundle is installed. Errors pass
/// through unchanged.
bool refreshInstalledSaver();

/// Undoes applyEverything() under lockHome(): puts back what every slot that
/// selects the saver had before zeph, in both stores (restoreWallpaperStore()),
/// restarts the agent, re-counts after the pause and restores once more if
/// the agent put the saver back; only then removes the bundle and puts the
/// earlier legacy selection back. Errors pass through unchanged; a failure
/// after a store was renamed into place ends it as applyEverything()'s does.
StoreChangeReport uninstallEverything();

}  // namespace zeph

#endif  // ZEPH_APP_APPLY_H_
