#include "platform/file_calls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#ifdef ZEPH_FAULT_INJECTION
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#endif

namespace zeph::file_calls {
namespace {

#ifdef ZEPH_FAULT_INJECTION
struct Fault {
  std::string call;  // empty: no fault asked for
  long nth = 0;
  int error = 0;
};

int errnoNamed(const std::string& name) {
  static const struct {
    const char* name;
    int value;
  } kKnown[] = {{"ENOSPC", ENOSPC}, {"EIO", EIO},       {"EACCES", EACCES}, {"EPERM", EPERM},
                {"EDQUOT", EDQUOT}, {"EROFS", EROFS},   {"EINVAL", EINVAL}, {"ENOTSUP", ENOTSUP},
                {"EEXIST", EEXIST}, {"ENOENT", ENOENT}, {"EXDEV", EXDEV},   {"EMLINK", EMLINK},
                {"EINTR", EINTR},   {"ENOMEM", ENOMEM}};
  for (const auto& known : kKnown) {
    if (name == known.name) return known.value;
  }
  return std::atoi(name.c_str());
}

const Fault& askedFault() {
  static const Fault fault = [] {
    Fault f;
    const char* text = std::getenv("ZEPH_FAULT");
    if (!text) return f;
    std::string spec = text;
    auto first = spec.find(':');
    auto second = first == std::string::npos ? first : spec.find(':', first + 1);
    if (second == std::string::npos) return f;
    f.call = spec.substr(0, first);
    f.nth = std::atol(spec.substr(first + 1, second - first - 1).c_str());
    f.error = errnoNamed(spec.substr(second + 1));
    return f;
  }();
  return fault;
}

// Whether this call of kind `call` is the one to fail; sets errno when it is.
bool injected(const char* call) {
  static std::atomic<long> seen[6];
  static const char* const kCalls[6] = {"open", "write", "fsync", "rename", "link", "mkdir"};
  const Fault& fault = askedFault();
  int index = 0;
  while (index < 6 && std::strcmp(kCalls[index], call) != 0) ++index;
  long n = ++seen[index];
  if (fault.call != call || n != fault.nth) return false;
  std::fprintf(stderr, "zeph fault: %s #%ld fails with %s\n", call, n, std::strerror(fault.error));
  errno = fault.error;
  return true;
}
#else
constexpr bool injected(const char*) { return false; }
#endif

}  // namespace

int open(const char* path, int flags, mode_t mode) {
  if (injected("open")) return -1;
  return ::open(path, flags, mode);
}

ssize_t write(int fd, const void* bytes, std::size_t size) {
  if (injected("write")) return -1;
  return ::write(fd, bytes, size);
}

int fsync(int fd) {
  if (injected("fsync")) return -1;
  return ::fsync(fd);
}

int rename(const char* from, const char* to) {
  if (injected("rename")) return -1;
  return std::rename(from, to);
}

namespace {

// Both flags name one idea on each system; EINVAL and ENOSYS mean the file
// system or the kernel does not offer it, which callers handle as ENOTSUP.
int renameWithFlag(const char* from, const char* to, [[maybe_unused]] unsigned flag) {
  if (injected("rename")) return -1;
#if defined(__linux__) && defined(RENAME_NOREPLACE)
  int rc = ::renameat2(AT_FDCWD, from, AT_FDCWD, to, flag);
#elif defined(__APPLE__)
  int rc = ::renamex_np(from, to, flag);
#else
  errno = ENOTSUP;
  int rc = -1;
#endif
  if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) errno = ENOTSUP;
  return rc;
}

}  // namespace

int renameNoReplace(const char* from, const char* to) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
  return renameWithFlag(from, to, RENAME_NOREPLACE);
#elif defined(__APPLE__)
  return renameWithFlag(from, to, RENAME_EXCL);
#else
  return renameWithFlag(from, to, 0);
#endif
}

int renameExchange(const char* from, const char* to) {
#if defined(__linux__) && defined(RENAME_EXCHANGE)
  return renameWithFlag(from, to, RENAME_EXCHANGE);
#elif defined(__APPLE__)
  return renameWithFlag(from, to, RENAME_SWAP);
#else
  return renameWithFlag(from, to, 0);
#endif
}

int link(const char* from, const char* to) {
  if (injected("link")) return -1;
  return ::link(from, to);
}

int mkdir(const char* path, mode_t mode) {
  if (injected("mkdir")) return -1;
  return ::mkdir(path, mode);
}

bool faultInjectionBuilt() {
#ifdef ZEPH_FAULT_INJECTION
  return true;
#else
  return false;
#endif
}

}  // namespace zeph::file_calls
