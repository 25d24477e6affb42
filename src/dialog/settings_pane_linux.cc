#include "dialog/settings_pane.h"

namespace zeph {

// No system here has the macOS Screen Saver pane; the button just ends the run.
void openScreenSaverSettings() {}

}  // namespace zeph
