// CFBase, as far as the installer calls it. None of it carries nullability
// annotations in Apple's documentation, so none is given here.
#ifndef ZEPH_APPLE_SDK_CFBASE_H_
#define ZEPH_APPLE_SDK_CFBASE_H_

#include <stdint.h>

#include <CoreFoundation/CFAvailability.h>

#ifdef __cplusplus
extern "C" {
#endif

// "Create" and "Copy" functions hand their caller one reference (the Create Rule).
#if __has_feature(attribute_cf_returns_retained)
#define CF_RETURNS_RETAINED __attribute__((cf_returns_retained))
#else
#define CF_RETURNS_RETAINED
#endif

typedef unsigned char Boolean;
typedef uint8_t UInt8;
typedef uint32_t UInt32;
typedef signed long CFIndex;
typedef unsigned long CFOptionFlags;
typedef unsigned long CFTypeID;
typedef const void* CFTypeRef;
typedef const void* CFPropertyListRef;
typedef const struct __CFAllocator* CFAllocatorRef;
typedef const struct __CFString* CFStringRef;

typedef struct {
  CFIndex location;
  CFIndex length;
} CFRange;

static inline CFRange CFRangeMake(CFIndex loc, CFIndex len) {
  CFRange range;
  range.location = loc;
  range.length = len;
  return range;
}

extern const CFAllocatorRef kCFAllocatorDefault;

CFTypeID CFGetTypeID(CFTypeRef cf);
CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);
Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2);

#ifdef __cplusplus
}
#endif

#endif  // ZEPH_APPLE_SDK_CFBASE_H_
