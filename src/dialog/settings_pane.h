#ifndef ZEPH_PLATFORM_SETTINGS_PANE_H_
#define ZEPH_PLATFORM_SETTINGS_PANE_H_

namespace zeph {

/// Asks the system to open its Screen Saver settings pane, without looking at
/// the outcome. On Apple the workspace opens the pane's URL; elsewhere there
/// is no such pane and nothing happens.
void openScreenSaverSettings();

}  // namespace zeph

#endif  // ZEPH_PLATFORM_SETTINGS_PANE_H_
