// dyld, as far as the installer calls it: the main executable's path
// (dyld(3)). It copies the path into buf and returns 0 when *bufsize bytes are
// enough; otherwise it returns -1 and sets *bufsize to the size required.
#ifndef ZEPH_APPLE_SDK_MACH_O_DYLD_H_
#define ZEPH_APPLE_SDK_MACH_O_DYLD_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

int _NSGetExecutablePath(char* buf, uint32_t* bufsize);

#ifdef __cplusplus
}
#endif

#endif  // ZEPH_APPLE_SDK_MACH_O_DYLD_H_
