// CFData, as far as the installer calls it. Apple's documentation gives these
// implicitly unwrapped types (CFData!), so no nullability is given here.
#ifndef ZEPH_APPLE_SDK_CFDATA_H_
#define ZEPH_APPLE_SDK_CFDATA_H_

#include <CoreFoundation/CFBase.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef const struct __CFData* CFDataRef;

const UInt8* CFDataGetBytePtr(CFDataRef theData);
CFIndex CFDataGetLength(CFDataRef theData);

#ifdef __cplusplus
}
#endif

#endif  // ZEPH_APPLE_SDK_CFDATA_H_
