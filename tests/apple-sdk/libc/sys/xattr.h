// Darwin's <sys/xattr.h>, as far as the tests call it: the one header of
// Darwin's libc they use that Zig does not ship. After getxattr(2) and
// setxattr(2): both take a position (only the resource fork uses it; 0
// otherwise) and options that Linux's calls do not.
#ifndef ZEPH_APPLE_SDK_SYS_XATTR_H_
#define ZEPH_APPLE_SDK_SYS_XATTR_H_

#include <sys/types.h>

#define XATTR_NOFOLLOW 0x0001
#define XATTR_CREATE 0x0002
#define XATTR_REPLACE 0x0004

#ifdef __cplusplus
extern "C" {
#endif

ssize_t getxattr(const char* path, const char* name, void* value, size_t size, u_int32_t position, int options);
int setxattr(const char* path, const char* name, const void* value, size_t size, u_int32_t position, int options);

#ifdef __cplusplus
}
#endif

#endif  // ZEPH_APPLE_SDK_SYS_XATTR_H_
