// CFPreferences, as far as the installer calls it. Unlike the older CF
// headers these are annotated: application IDs, keys, user and host names
// must not be NULL; the dictionary to set and the array to remove may be, and
// a missing preference reads as NULL.
#ifndef ZEPH_APPLE_SDK_CFPREFERENCES_H_
#define ZEPH_APPLE_SDK_CFPREFERENCES_H_

#include <CoreFoundation/CFArray.h>
#include <CoreFoundation/CFBase.h>
#include <CoreFoundation/CFDictionary.h>

CF_ASSUME_NONNULL_BEGIN
#ifdef __cplusplus
extern "C" {
#endif

extern const CFStringRef kCFPreferencesCurrentUser;
extern const CFStringRef kCFPreferencesAnyHost;
extern const CFStringRef kCFPreferencesCurrentHost;

CFPropertyListRef _Nullable CFPreferencesCopyAppValue(CFStringRef key, CFStringRef applicationID)
    CF_RETURNS_RETAINED;
// The value of the key in one user's and host's domain, without the
// fallbacks CFPreferencesCopyAppValue searches.
CFPropertyListRef _Nullable CFPreferencesCopyValue(CFStringRef key, CFStringRef applicationID, CFStringRef userName,
                                                   CFStringRef hostName) CF_RETURNS_RETAINED;
void CFPreferencesSetMultiple(CFDictionaryRef _Nullable keysToSet, CFArrayRef _Nullable keysToRemove,
                              CFStringRef applicationID, CFStringRef userName, CFStringRef hostName);
Boolean CFPreferencesAppSynchronize(CFStringRef applicationID);
// Every value of the domain when keysToFetch is NULL (the test guard's snapshot).
CFDictionaryRef CFPreferencesCopyMultiple(CFArrayRef _Nullable keysToFetch, CFStringRef applicationID,
                                          CFStringRef userName, CFStringRef hostName) CF_RETURNS_RETAINED;

#ifdef __cplusplus
}
#endif
CF_ASSUME_NONNULL_END

#endif  // ZEPH_APPLE_SDK_CFPREFERENCES_H_
