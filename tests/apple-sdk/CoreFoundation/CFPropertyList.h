// CFPropertyList, as far as the installer calls it. The documentation shows
// implicitly unwrapped types, so no nullability is given; the data follows the
// Create Rule.
#ifndef ZEPH_APPLE_SDK_CFPROPERTYLIST_H_
#define ZEPH_APPLE_SDK_CFPROPERTYLIST_H_

#include <CoreFoundation/CFBase.h>
#include <CoreFoundation/CFData.h>
#include <CoreFoundation/CFError.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef CF_ENUM(CFIndex, CFPropertyListFormat) {
  kCFPropertyListOpenStepFormat = 1,
  kCFPropertyListXMLFormat_v1_0 = 100,
  kCFPropertyListBinaryFormat_v1_0 = 200,
};

CFDataRef CFPropertyListCreateData(CFAllocatorRef allocator, CFPropertyListRef propertyList,
                                   CFPropertyListFormat format, CFOptionFlags options, CFErrorRef* error)
    API_AVAILABLE(macos(10.6)) CF_RETURNS_RETAINED;

#ifdef __cplusplus
}
#endif

#endif  // ZEPH_APPLE_SDK_CFPROPERTYLIST_H_
