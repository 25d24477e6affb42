// CFError, as far as the installer names it: only passed by address.
#ifndef ZEPH_APPLE_SDK_CFERROR_H_
#define ZEPH_APPLE_SDK_CFERROR_H_

typedef struct __CFError* CFErrorRef;

#endif  // ZEPH_APPLE_SDK_CFERROR_H_
