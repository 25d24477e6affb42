#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__APPLE__)
#include <copyfile.h>
#elif defined(__linux__)
#include <sys/xattr.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <system_error>

#include "platform/file_calls.h"
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

std::string sizeText(std::uint64_t bytes) {
  char text[32];
  if (bytes >= (std::uint64_t{1} << 20)) {
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
  } else {
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  }
  return text;
}

[[noreturn]] void throwDanglingLink(const std::string& path) {
  std::string target;
  try {
    target = readLink(path);
  } catch (const std::system_error&) {
  }
  throw std::system_error(ENOENT, std::generic_category(),
                          path + " is a dangling link" + (target.empty() ? "" : " to " + target));
}

const char* kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

[[noreturn]] void throwNotRegular(const std::string& path, mode_t mode) {
  // A folder keeps the message the read of one has always given.
  if (S_ISDIR(mode)) throwErrno("read", path, EISDIR);
  throw std::runtime_error(path + ": not a regular file (" + kindOf(mode) + ")");
}

void writeAll(int fd, std::span<const std::uint8_t> bytes, const std::string& path) {
  while (!bytes.empty()) {
    ssize_t n = file_calls::write(fd, bytes.data(), bytes.size());
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
    rc = file_calls::fsync(fd);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

void syncAndClose(UniqueFd& fd, const std::string& path) {
  if (syncToDisk(fd.get()) != 0) throwErrno("fsync", path);
  if (fd.close() != 0) throwErrno("close", path);
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
// The shape is what isTemporaryName() recognises.
std::string temporaryName(const std::string& folder, const std::string& name) {
  static std::atomic<unsigned> counter{0};
  auto ticks = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".%ld.%u.%llx", static_cast<long>(::getpid()), counter++,
                ticks & 0xFFFFFF);
  return folder + "/." + name + suffix + ".tmp";
}

// A new, empty temporary file in `folder` for a file to be named `name`.
// A failure names the folder: that is where the user must look.
UniqueFd createTemporary(const std::string& folder, const std::string& name, std::string& temporary,
                         mode_t creationMode) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = temporaryName(folder, name);
    int fd = file_calls::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              creationMode);
    if (fd >= 0) return UniqueFd(fd);
    if (errno != EEXIST) {
      throw std::system_error(errno, std::generic_category(), "create a file in " + folder);
    }
  }
  throw std::system_error(EEXIST, std::generic_category(), "create a file in " + folder);
}

// Copies the extended attributes worth keeping from the file at `from` to
// the open file `to`: on Linux the user namespace (the others belong to the
// system or need privileges), on Apple all of them with the ACL.
void copyAttributes(const std::string& from, [[maybe_unused]] int to) {
  auto note = [&from](const std::string& what, int error) {
    std::fprintf(stderr, "warning: couldn't keep %s of %s: %s\n", what.c_str(), from.c_str(),
                 std::strerror(error));
  };
#if defined(__APPLE__)
  UniqueFd source(::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (source.get() < 0 || ::fcopyfile(source.get(), to, nullptr, COPYFILE_XATTR | COPYFILE_ACL) != 0) {
    note("the extended attributes", errno);
  }
#elif defined(__linux__)
  ssize_t size = ::llistxattr(from.c_str(), nullptr, 0);
  if (size < 0) {
    if (errno != ENOTSUP) note("the extended attributes", errno);
    return;
  }
  std::string names(static_cast<std::size_t>(size), '\0');
  size = ::llistxattr(from.c_str(), names.data(), names.size());
  if (size < 0) {
    note("the extended attributes", errno);
    return;
  }
  names.resize(static_cast<std::size_t>(size));
  for (std::size_t at = 0; at < names.size(); at = names.find('\0', at) + 1) {
    std::string name = names.c_str() + at;
    if (name.rfind("user.", 0) != 0) continue;
    ssize_t length = ::lgetxattr(from.c_str(), name.c_str(), nullptr, 0);
    std::string value(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length < 0 || (length = ::lgetxattr(from.c_str(), name.c_str(), value.data(), value.size())) < 0 ||
        ::fsetxattr(to, name.c_str(), value.data(), static_cast<std::size_t>(length), 0) != 0) {
      note("the extended attribute " + name, errno);
    }
  }
#else
  (void)note;
#endif
}

// Gives the complete temporary file its final name `path` unless something
// is there already (EEXIST). Where rename cannot refuse to replace, a hard
// link does; where there are no hard links, the bytes are written again
// under the final name with O_EXCL, which only a crash can leave partial.
// Returns false when the name is taken.
bool publishWithoutReplacing(const std::string& temporary, const std::string& path,
                             std::span<const std::uint8_t> bytes, mode_t mode) {
  if (file_calls::renameNoReplace(temporary.c_str(), path.c_str()) == 0) return true;
  if (errno == EEXIST) return false;
  if (errno != ENOTSUP) throwErrno("rename", path);
  if (file_calls::link(temporary.c_str(), path.c_str()) == 0) {
    ::unlink(temporary.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  bool noHardLinks = errno == EPERM || errno == ENOTSUP || errno == ENOSYS || errno == EMLINK;
#if EOPNOTSUPP != ENOTSUP
  noHardLinks = noHardLinks || errno == EOPNOTSUPP;
#endif
  if (!noHardLinks) throwErrno("link", path);
  UniqueFd fd(file_calls::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
  if (fd.get() < 0) {
    if (errno == EEXIST) return false;
    throwErrno("open", path);
  }
  RemoveOnFailure cleanup(path);
  if (::fchmod(fd.get(), mode) != 0) throwErrno("fchmod", path);
  writeAll(fd.get(), bytes, path);
  syncAndClose(fd, path);
  cleanup.release();
  ::unlink(temporary.c_str());
  return true;
}

}  // namespace

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

std::vector<std::uint8_t> readFile(const std::string& path, std::uint64_t maxBytes) {
  // stat before open: opening a FIFO blocks and a device never ends. A file
  // replaced by rename between the two is simply looked at again.
  UniqueFd fd(-1);
  struct stat st {};
  for (int attempt = 0;; ++attempt) {
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0) throwErrno("open", path);
    if (!S_ISREG(before.st_mode)) throwNotRegular(path, before.st_mode);
    fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) throwErrno("open", path);
    if (::fstat(fd.get(), &st) != 0) throwErrno("fstat", path);
    if (st.st_dev == before.st_dev && st.st_ino == before.st_ino) break;
    if (attempt == 100) throw std::runtime_error(path + " keeps being replaced while it is opened");
  }
  if (!S_ISREG(st.st_mode)) throwNotRegular(path, st.st_mode);
  auto tooLarge = [&](std::uint64_t size) {
    throw std::runtime_error(path + " is too large to read (" + sizeText(size) + "; the limit is " +
                             sizeText(maxBytes) + ")");
  };
  auto size = static_cast<std::uint64_t>(st.st_size);
  if (size > maxBytes) tooLarge(size);

  std::vector<std::uint8_t> bytes;
  try {
    bytes.resize(static_cast<std::size_t>(size));
    std::size_t filled = 0;
    for (;;) {
      // A file that grows while it is read is read on, within the limit.
      if (filled == bytes.size()) {
        if (bytes.size() >= maxBytes) {
          std::uint8_t probe;
          if (::read(fd.get(), &probe, 1) > 0) tooLarge(bytes.size() + 1);
          break;
        }
        bytes.resize(std::min<std::uint64_t>(maxBytes, bytes.size() + 65536));
      }
      ssize_t n = file_calls::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
      if (n < 0) {
        if (errno == EINTR) continue;
        throwErrno("read", path);
      }
      if (n == 0) break;
      filled += static_cast<std::size_t>(n);
    }
    bytes.resize(filled);
  } catch (const std::bad_alloc&) {
    throw std::runtime_error("not enough memory to read " + path + " (" + sizeText(size) + ")");
  }
  return bytes;
}

std::vector<std::string> folderEntries(const std::string& path) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(file_calls::opendir(path.c_str()), ::closedir);
  if (!dir) throwErrno("opendir", path);
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) throwErrno("readdir", path);
      break;
    }
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  return names;
}

FileStamp fileStamp(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throwErrno("stat", path);
#if defined(__APPLE__)
  const struct timespec& modified = st.st_mtimespec;
#else
  const struct timespec& modified = st.st_mtim;
#endif
  return FileStamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                   static_cast<std::uint64_t>(st.st_size), static_cast<std::int64_t>(modified.tv_sec),
                   static_cast<std::int64_t>(modified.tv_nsec)};
}

unsigned filePermissions(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throwErrno("stat", path);
  return st.st_mode & 07777;
}

bool pathExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool regularFileExists(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode) && ::stat(path.c_str(), &st) != 0) {
      if (errno == ENOENT) throwDanglingLink(path);
      throwErrno("stat", path);
    }
    if (!S_ISREG(st.st_mode)) throwNotRegular(path, st.st_mode);
    return true;
  }
  if (errno != ENOENT) throwErrno("stat", path);
  // Nothing at the path itself: absent only if the first missing level above
  // it is really missing, not a link to nowhere.
  std::size_t end = 0;
  while ((end = path.find('/', end + 1)) != std::string::npos) {
    std::string prefix = path.substr(0, end);
    if (prefix.back() == '/') continue;  // a doubled slash
    if (::lstat(prefix.c_str(), &st) != 0) {
      if (errno == ENOENT) return false;
      throwErrno("stat", prefix);
    }
    if (S_ISLNK(st.st_mode) && ::stat(prefix.c_str(), &st) != 0) {
      if (errno == ENOENT) throwDanglingLink(prefix);
      throwErrno("stat", prefix);
    }
    if (!S_ISDIR(st.st_mode)) throwErrno("stat", prefix, ENOTDIR);
  }
  return false;  // the last level alone is missing
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
    if (prefix.empty() || prefix.back() == '/') continue;                   // the root, or a doubled slash
    if (::stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;  // made only where missing
    if (file_calls::mkdir(prefix.c_str(), 0777) == 0) continue;
    int error = errno;
    if (error == EEXIST && ::lstat(prefix.c_str(), &st) == 0 && S_ISLNK(st.st_mode) &&
        ::stat(prefix.c_str(), &st) != 0 && errno == ENOENT) {
      throwDanglingLink(prefix);
    }
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
                         std::span<const std::uint8_t> bytes, unsigned mode) {
  const mode_t fileMode = static_cast<mode_t>(mode) & 0666;
  std::string temporary;
  UniqueFd file = createTemporary(folder, stem + extension, temporary, 0600);
  RemoveOnFailure cleanup(temporary);
  if (::fchmod(file.get(), fileMode) != 0) throwErrno("fchmod", temporary);
  writeAll(file.get(), bytes, temporary);
  syncAndClose(file, temporary);
  for (int n = 1; n <= 10000; ++n) {
    std::string path = folder + "/" + stem + (n == 1 ? "" : "-" + std::to_string(n)) + extension;
    if (!publishWithoutReplacing(temporary, path, bytes, fileMode)) continue;
    cleanup.release();
    // The new name must survive a crash too.
    syncFolder(folder);
    return path;
  }
  throwErrno("open", folder + "/" + stem + "-10000" + extension, EEXIST);
}

PreparedReplacement prepareReplacement(const std::string& path, std::span<const std::uint8_t> bytes) {
  const std::string target = resolveFinalLink(path);
  const std::string folder = folderOf(target);
  struct stat old {};
  bool existed = ::stat(target.c_str(), &old) == 0;

  std::string temporary;
  // A new file gets 0666 less the umask; a replaced one its old bits, set
  // while only its owner can open it.
  UniqueFd file = createTemporary(folder, nameOf(target), temporary, existed ? 0600 : 0666);
  RemoveOnFailure cleanup(temporary);
  if (existed) {
    if (::fchmod(file.get(), old.st_mode & 07777) != 0) throwErrno("fchmod", temporary);
    // Only the superuser can give a file away; for everyone else the owner is already right.
    if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
        ::fchown(file.get(), old.st_uid, old.st_gid) != 0 && errno != EPERM) {
      throwErrno("fchown", temporary);
    }
    copyAttributes(target, file.get());
  }
  writeAll(file.get(), bytes, temporary);
  syncAndClose(file, temporary);
  cleanup.release();
  return PreparedReplacement{temporary, target};
}

void commitReplacement(const PreparedReplacement& prepared) {
  RemoveOnFailure cleanup(prepared.temporary);
  if (file_calls::rename(prepared.temporary.c_str(), prepared.target.c_str()) != 0) {
    throwErrno("rename", prepared.target);
  }
  cleanup.release();
}

void discardReplacement(const PreparedReplacement& prepared) noexcept {
  ::unlink(prepared.temporary.c_str());
}

void replaceFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  PreparedReplacement prepared = prepareReplacement(path, bytes);
  commitReplacement(prepared);
  syncFolder(folderOf(prepared.target));
}

bool isTemporaryName(const std::string& name, const std::string& finalPrefix) {
  static constexpr std::string_view kEnd = ".tmp";
  return name.size() > finalPrefix.size() + 1 + kEnd.size() && name[0] == '.' &&
         name.compare(1, finalPrefix.size(), finalPrefix) == 0 &&
         name.compare(name.size() - kEnd.size(), kEnd.size(), kEnd) == 0;
}

void removeStaleTemporaries(const std::string& folder, const std::string& finalPrefix) {
  std::vector<std::string> names;
  try {
    names = folderEntries(folder);
  } catch (const std::system_error&) {
    return;  // no folder, nothing left behind
  }
  for (const std::string& name : names) {
    if (!isTemporaryName(name, finalPrefix)) continue;
    std::string path = folder + "/" + name;
    struct stat st {};
    // Only files: a folder of that name is not ours.
    if (::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) ::unlink(path.c_str());
  }
}

void removeStaleReplacements(const std::string& path) {
  std::string target;
  try {
    target = resolveFinalLink(path);
  } catch (const std::exception&) {
    return;  // a broken link: nothing was written through it
  }
  removeStaleTemporaries(folderOf(target), nameOf(target));
}

std::optional<std::string> swapIntoPlace(const std::string& fresh, const std::string& dest,
                                         const std::string& aside) {
  struct stat st {};
  if (::lstat(dest.c_str(), &st) != 0) {
    if (errno != ENOENT) throwErrno("stat", dest);
    if (file_calls::renameNoReplace(fresh.c_str(), dest.c_str()) == 0) return std::nullopt;
    if (errno != ENOTSUP) throwErrno("rename", dest);
    if (file_calls::rename(fresh.c_str(), dest.c_str()) != 0) throwErrno("rename", dest);
    return std::nullopt;
  }
  if (file_calls::renameExchange(fresh.c_str(), dest.c_str()) == 0) return fresh;
  if (errno != ENOTSUP) throwErrno("rename", dest);
  if (file_calls::rename(dest.c_str(), aside.c_str()) != 0) throwErrno("rename", dest);
  if (file_calls::rename(fresh.c_str(), dest.c_str()) != 0) {
    int error = errno;
    // Put the old one back: a working old item beats none.
    std::rename(aside.c_str(), dest.c_str());
    throwErrno("rename", dest, error);
  }
  return aside;
}

void syncFolder(const std::string& folder) {
  UniqueFd fd(file_calls::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) throwErrno("open", folder);
  if (syncToDisk(fd.get()) != 0 && errno != EINVAL && errno != ENOTSUP) throwErrno("fsync", folder);
}

}  // namespace zeph
