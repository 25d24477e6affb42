// Core Foundation, as far as the installer calls it; one header per part, as
// in the framework, since nullability annotations are checked per header.
#ifndef ZEPH_APPLE_SDK_COREFOUNDATION_H_
#define ZEPH_APPLE_SDK_COREFOUNDATION_H_

#include <CoreFoundation/CFArray.h>
#include <CoreFoundation/CFBase.h>
#include <CoreFoundation/CFData.h>
#include <CoreFoundation/CFDictionary.h>
#include <CoreFoundation/CFError.h>
#include <CoreFoundation/CFNumber.h>
#include <CoreFoundation/CFPreferences.h>
#include <CoreFoundation/CFPropertyList.h>
#include <CoreFoundation/CFString.h>

#endif  // ZEPH_APPLE_SDK_COREFOUNDATION_H_
