#include "platform/file_calls.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#ifdef ZEPH_FAULT_INJECTION
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#endif

namespace zeph::file_calls {
namespace {

#ifdef ZEPH_FAULT_INJECTION
constexpr const char* kCalls[] = {"open", "write", "fsync", "rename", "renamex",
                                  "link", "mkdir", "flock", "read",   "opendir"};
constexpr int kCallKinds = 10;

struct Fault {
  int call = -1;  // index into kCalls
  long nth = 0;   // 0: every call of that kind
  int error = 0;
};

int errnoNamed(const std::string& name) {
  static const struct {
    const char* name;
    int value;
  } kKnown[] = {{"ENOSPC", ENOSPC},         {"EIO", EIO},         {"EACCES", EACCES},
                {"EPERM", EPERM},           {"EDQUOT", EDQUOT},   {"EROFS", EROFS},
                {"EINVAL", EINVAL},         {"ENOTSUP", ENOTSUP}, {"EEXIST", EEXIST},
                {"ENOENT", ENOENT},         {"EXDEV", EXDEV},     {"EMLINK", EMLINK},
                {"EINTR", EINTR},           {"ENOMEM", ENOMEM},   {"ENOLCK", ENOLCK},
                {"EOPNOTSUPP", EOPNOTSUPP}, {"EISDIR", EISDIR},   {"EWOULDBLOCK", EWOULDBLOCK}};
  for (const auto& known : kKnown) {
    if (name == known.name) return known.value;
  }
  return std::atoi(name.c_str());
}

// ZEPH_FAULT holds one or more "<call>:<n>:<errno>" separated by commas; "*"
// for n fails every call of that kind.
const std::vector<Fault>& askedFaults() {
  static const std::vector<Fault> faults = [] {
    std::vector<Fault> found;
    const char* text = std::getenv("ZEPH_FAULT");
    std::string rest = text ? text : "";
    while (!rest.empty()) {
      std::string one = rest.substr(0, rest.find(','));
      rest = one.size() < rest.size() ? rest.substr(one.size() + 1) : "";
      auto first = one.find(':');
      auto second = first == std::string::npos ? first : one.find(':', first + 1);
      if (second == std::string::npos) continue;
      Fault f;
      for (int i = 0; i < kCallKinds; ++i) {
        if (one.compare(0, first, kCalls[i]) == 0 && std::strlen(kCalls[i]) == first) f.call = i;
      }
      std::string nth = one.substr(first + 1, second - first - 1);
      f.nth = nth == "*" ? 0 : std::atol(nth.c_str());
      f.error = errnoNamed(one.substr(second + 1));
      if (f.call >= 0) found.push_back(f);
    }
    return found;
  }();
  return faults;
}

// Whether this call of kind `call` is one to fail; sets errno when it is.
bool injected(const char* call) {
  static std::atomic<long> seen[kCallKinds];
  int index = 0;
  while (index < kCallKinds && std::strcmp(kCalls[index], call) != 0) ++index;
  long n = ++seen[index];
  for (const Fault& fault : askedFaults()) {
    if (fault.call != index || (fault.nth != 0 && fault.nth != n)) continue;
    std::fprintf(stderr, "zeph fault: %s #%ld fails with %s\n", call, n, std::strerror(fault.error));
    errno = fault.error;
    return true;
  }
  return false;
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

int systemRename(const char* from, const char* to, [[maybe_unused]] unsigned flag) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
  return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, flag);
#elif defined(__APPLE__)
  return ::renamex_np(from, to, flag);
#else
  errno = ENOTSUP;
  return -1;
#endif
}

// EINVAL and ENOSYS mean the file system or the kernel does not offer the
// flag, which callers handle as ENOTSUP; an injected EINVAL stands for such
// a file system.
int renameWithFlag(const char* from, const char* to, unsigned flag) {
  int rc = injected("renamex") ? -1 : systemRename(from, to, flag);
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

int flock(int fd, int operation) {
  if (injected("flock")) return -1;
  return ::flock(fd, operation);
}

ssize_t read(int fd, void* bytes, std::size_t size) {
  if (injected("read")) return -1;
  return ::read(fd, bytes, size);
}

DIR* opendir(const char* path) {
  if (injected("opendir")) return nullptr;
  return ::opendir(path);
}

bool faultInjectionBuilt() {
#ifdef ZEPH_FAULT_INJECTION
  return true;
#else
  return false;
#endif
}

}  // namespace zeph::file_calls
