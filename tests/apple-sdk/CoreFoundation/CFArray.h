// CFArray, as far as the installer calls it: a mutable array of CF objects.
// The callback table is only passed by address here.
#ifndef ZEPH_APPLE_SDK_CFARRAY_H_
#define ZEPH_APPLE_SDK_CFARRAY_H_

#include <CoreFoundation/CFBase.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef const struct __CFArray* CFArrayRef;
typedef struct __CFArray* CFMutableArrayRef;
typedef struct CFArrayCallBacks CFArrayCallBacks;

extern const CFArrayCallBacks kCFTypeArrayCallBacks;

CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef allocator, CFIndex capacity, const CFArrayCallBacks* callBacks)
    CF_RETURNS_RETAINED;
void CFArrayAppendValue(CFMutableArrayRef theArray, const void* value);

#ifdef __cplusplus
}
#endif

#endif  // ZEPH_APPLE_SDK_CFARRAY_H_
