#ifndef ZEPH_SAVER_INSTALL_INSTALL_SAVER_H_
#define ZEPH_SAVER_INSTALL_INSTALL_SAVER_H_

namespace zeph {

/// Copies the carried saver bundle to saverDest, replacing any earlier copy.
/// Throws InstallerError (code 1) when the bundle is missing, std::system_error otherwise.
void installSaver();

/// Names the installed bundle as the legacy screen-saver module through
/// /usr/bin/defaults. Never fails.
void selectLegacyModule();

}  // namespace zeph

#endif  // ZEPH_SAVER_INSTALL_INSTALL_SAVER_H_
