// CFNumber and CFBoolean, as far as the installer calls them.
#ifndef ZEPH_APPLE_SDK_CFNUMBER_H_
#define ZEPH_APPLE_SDK_CFNUMBER_H_

#include <CoreFoundation/CFBase.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef const struct __CFBoolean* CFBooleanRef;
typedef const struct __CFNumber* CFNumberRef;

typedef CF_ENUM(CFIndex, CFNumberType) {
  kCFNumberSInt64Type = 4,
  kCFNumberDoubleType = 13,
};

extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;

CFTypeID CFBooleanGetTypeID(void);
Boolean CFBooleanGetValue(CFBooleanRef boolean);
CFTypeID CFNumberGetTypeID(void);
CFNumberRef CFNumberCreate(CFAllocatorRef allocator, CFNumberType theType, const void* valuePtr)
    CF_RETURNS_RETAINED;
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr);
Boolean CFNumberIsFloatType(CFNumberRef number);

#ifdef __cplusplus
}
#endif

#endif  // ZEPH_APPLE_SDK_CFNUMBER_H_
