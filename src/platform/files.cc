#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <system_error>

#include "platform/unique_fd.h"

namespace zeph {
namespace {

// Removes the file at `path` on scope exit unless released: no half-written
// file survives a failure.
class RemoveOnFailure {
 public:
  explicit RemoveOnFailure(std::string path) : path_(std::move(path)) {}
  RemoveOnFailure(const RemoveOnFailure&) = delete;
  RemoveOnFailure& operator=(const RemoveOnFailure&) = delete;
  ~RemoveOnFailure() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  void release() { path_.clear(); }

 private:
  std::string path_;  // empty once released
};

std::string folderOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void writeAll(int fd, std::span<const std::uint8_t> bytes, const std::string& path) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throwErrno("write", path);
    }
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
}

// Flushes the file's data to the disk itself. Apple's fsync() stops at the
// drive's cache; F_FULLFSYNC goes all the way but is not served by every file system.
int syncToDisk(int fd) {
#ifdef F_FULLFSYNC
  if (::fcntl(fd, F_FULLFSYNC) == 0) return 0;
#endif
  int rc;
  do {
    rc = ::fsync(fd);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

void syncAndClose(UniqueFd& fd, const std::string& path) {
  if (syncToDisk(fd.get()) != 0) throwErrno("fsync", path);
  if (fd.close() != 0) throwErrno("close", path);
}

// Makes a rename in `folder` durable. Some file systems cannot sync a folder
// (EINVAL); the rename then is as durable as they make it.
void syncFolder(const std::string& folder) {
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) throwErrno("open", folder);
  if (syncToDisk(fd.get()) != 0 && errno != EINVAL && errno != ENOTSUP) throwErrno("fsync", folder);
}

// The file a chain of symbolic links in the last component leads to; the
// folders above it may be links too, which rename() handles as they are.
std::string resolveFinalLink(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string target = readLink(path);
    if (target.empty()) throwErrno("readlink", path, ENOENT);
    path = target[0] == '/' ? target : folderOf(path) + "/" + target;
  }
  throwErrno("readlink", path, ELOOP);
}

// A name no other writer is likely to pick; O_EXCL settles the rare clash.
std::string temporaryName(const std::string& folder, const std::string& name) {
  static std::atomic<unsigned> counter{0};
  auto ticks = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".%ld.%u.%llx", static_cast<long>(::getpid()), counter++,
                ticks & 0xFFFFFF);
  return folder + "/." + name + suffix + ".tmp";
}

}  // namespace

std::string readLink(const std::string& path) {
  std::string target(256, '\0');
  for (;;) {
    ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0) throwErrno("readlink", path);
    if (static_cast<std::size_t>(n) < target.size()) {
      target.resize(static_cast<std::size_t>(n));
      return target;
    }
    target.resize(target.size() * 2);  // readlink() truncates silently
  }
}

std::vector<std::uint8_t> readFile(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throwErrno("open", path);
  std::vector<std::uint8_t> bytes;
  struct stat st {};
  if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) bytes.reserve(static_cast<std::size_t>(st.st_size));
  std::uint8_t buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      throwErrno("read", path);
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  return bytes;
}

bool pathExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

void createFolders(const std::string& folder) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
  std::size_t end = 0;
  while (end != std::string::npos) {
    end = path.find('/', end + 1);
    std::string prefix = path.substr(0, end);
    if (prefix.empty() || prefix.back() == '/') continue;  // the root, or a doubled slash
    if (::mkdir(prefix.c_str(), 0777) == 0) continue;
    int error = errno;
    // Something other than a folder in the way shows up as ENOTDIR one level
    // down, which names the path that could not be made; only the last level reports it here.
    if (error == EEXIST &&
        (end != std::string::npos || (::stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))) {
      continue;
    }
    throwErrno("mkdir", prefix, error);
  }
}

std::string writeNewFile(const std::string& folder, const std::string& stem, const std::string& extension,
                         std::span<const std::uint8_t> bytes) {
  for (int n = 1; n <= 10000; ++n) {
    std::string path = folder + "/" + stem + (n == 1 ? "" : "-" + std::to_string(n)) + extension;
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() < 0) {
      if (errno == EEXIST) continue;
      throwErrno("open", path);
    }
    RemoveOnFailure cleanup(path);
    writeAll(fd.get(), bytes, path);
    syncAndClose(fd, path);
    cleanup.release();
    // The new name must survive a crash too.
    syncFolder(folder);
    return path;
  }
  throwErrno("open", folder + "/" + stem + "-10000" + extension, EEXIST);
}

void replaceFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  const std::string target = resolveFinalLink(path);
  const std::string folder = folderOf(target);
  struct stat old {};
  bool existed = ::stat(target.c_str(), &old) == 0;

  std::string temporary;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temporary = temporaryName(folder, nameOf(target));
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) throwErrno("open", temporary);
  }
  if (fd < 0) throwErrno("open", temporary, EEXIST);
  UniqueFd file(fd);
  RemoveOnFailure cleanup(temporary);

  if (existed) {
    if (::fchmod(file.get(), old.st_mode & 07777) != 0) throwErrno("fchmod", temporary);
    // Only the superuser can give a file away; for everyone else the owner is already right.
    if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
        ::fchown(file.get(), old.st_uid, old.st_gid) != 0 && errno != EPERM) {
      throwErrno("fchown", temporary);
    }
  }
  writeAll(file.get(), bytes, temporary);
  syncAndClose(file, temporary);
  if (::rename(temporary.c_str(), target.c_str()) != 0) throwErrno("rename", target);
  cleanup.release();
  syncFolder(folder);
}

}  // namespace zeph
