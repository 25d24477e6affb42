// Opens the Screen Saver pane of System Settings. Written for ARC (-fobjc-arc).

#import <AppKit/AppKit.h>

#include "dialog/settings_pane.h"

#if !__has_feature(objc_arc)
#error "settings_pane_apple.mm manages memory with ARC; compile it with -fobjc-arc"
#endif

namespace zeph {

void openScreenSaverSettings() {
  @autoreleasepool {
    NSURL* pane = [NSURL URLWithString:@"x-apple.systempreferences:com.apple.ScreenSaver-Settings.extension"];
    // Whether the pane opened is not looked at.
    if (pane != nil) (void)[NSWorkspace.sharedWorkspace openURL:pane];
  }
}

}  // namespace zeph
