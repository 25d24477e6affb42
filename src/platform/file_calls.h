#ifndef ZEPH_PLATFORM_FILE_CALLS_H_
#define ZEPH_PLATFORM_FILE_CALLS_H_

#include <sys/types.h>

#include <cstddef>

namespace zeph::file_calls {

// The POSIX calls that change files, as the file layer and the bundle copy
// make them. In a build with ZEPH_FAULT_INJECTION, the environment variable
// ZEPH_FAULT="<call>:<n>:<errno>" (for example "write:3:ENOSPC") makes the
// n-th call of that kind fail with that errno, and each injected failure is
// noted on standard error; the calls are open, write, fsync, rename, link and
// mkdir (renaming with flags counts as rename). Elsewhere they are the plain calls.

int open(const char* path, int flags, mode_t mode = 0);
ssize_t write(int fd, const void* bytes, std::size_t size);
int fsync(int fd);
int rename(const char* from, const char* to);
/// rename() that fails with EEXIST instead of replacing `to`; ENOTSUP where
/// the system or the file system has no such rename.
int renameNoReplace(const char* from, const char* to);
/// Swaps the items at `from` and `to` in one step; ENOTSUP where the system
/// or the file system cannot.
int renameExchange(const char* from, const char* to);
int link(const char* from, const char* to);
int mkdir(const char* path, mode_t mode);

/// Whether this build carries the fault seam.
bool faultInjectionBuilt();

}  // namespace zeph::file_calls

#endif  // ZEPH_PLATFORM_FILE_CALLS_H_
