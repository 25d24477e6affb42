#ifndef ZEPH_PLATFORM_FILE_CALLS_H_
#define ZEPH_PLATFORM_FILE_CALLS_H_

#include <dirent.h>
#include <sys/types.h>

#include <cstddef>

namespace zeph::file_calls {

// The POSIX calls that change files, as the file layer and the bundle copy
// make them, so that tests can make any one of them fail. In a build with
// ZEPH_FAULT_INJECTION, the environment variable ZEPH_FAULT, a comma-separated
// list of "<call>:<n>:<errno>" (for example "write:3:ENOSPC"; "*" for n means
// every call), makes the n-th call of that kind in the process fail with that
// errno, and notes each injected failure on standard error as
// "zeph fault: <call> #<n> fails with <text>". The calls are open, write,
// fsync, rename, renamex (the renames that refuse to replace or swap), link,
// mkdir and flock, and on the reading side read (of a whole file) and opendir.
// Without
// ZEPH_FAULT_INJECTION they are the plain calls and nothing reads the variable.

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
int flock(int fd, int operation);
ssize_t read(int fd, void* bytes, std::size_t size);
DIR* opendir(const char* path);

/// Whether this build carries the fault seam.
bool faultInjectionBuilt();

}  // namespace zeph::file_calls

#endif  // ZEPH_PLATFORM_FILE_CALLS_H_
