// Core Graphics, as far as the installer calls it: the caller's window server
// session (CGSession.h). The session dictionary is NULL outside a Quartz GUI
// session or with the window server disabled; kCGSessionOnConsoleKey holds a
// CFBoolean telling whether the session is on the console.
#ifndef ZEPH_APPLE_SDK_COREGRAPHICS_H_
#define ZEPH_APPLE_SDK_COREGRAPHICS_H_

#include <CoreFoundation/CoreFoundation.h>

#ifdef __cplusplus
extern "C" {
#endif

#define kCGSessionOnConsoleKey CFSTR("kCGSessionOnConsoleKey")

CFDictionaryRef _Nullable CGSessionCopyCurrentDictionary(void) CF_RETURNS_RETAINED API_AVAILABLE(macos(10.3));

#ifdef __cplusplus
}
#endif

#endif  // ZEPH_APPLE_SDK_COREGRAPHICS_H_
