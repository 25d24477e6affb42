#include "saver_install/copy_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/file_calls.h"
#include "platform/files.h"
#include "platform/unique_fd.h"

namespace zeph {
namespace {

constexpr mode_t kPermissionBits = 0777;

void copyFile(const std::string& from, const std::string& to, mode_t mode) {
  UniqueFd in(file_calls::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (in.get() < 0) throwErrno("open", from);
  UniqueFd out(
      file_calls::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR));
  if (out.get() < 0) throwErrno("open", to);
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(in.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      throwErrno("read", from);
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = file_calls::write(out.get(), buffer + done, static_cast<std::size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        throwErrno("write", to);
      }
      done += w;
    }
  }
  // Set after creation: the umask must not narrow the bundle's own bits.
  if (::fchmod(out.get(), mode & kPermissionBits) != 0) throwErrno("chmod", to);
  // On the disk before the bundle is swapped in: a crash must not leave a
  // complete-looking bundle with empty files.
  if (file_calls::fsync(out.get()) != 0) throwErrno("fsync", to);
  if (out.close() != 0) throwErrno("close", to);
}

void copyLink(const std::string& from, const std::string& to) {
  std::string text = readLink(from);
  if (::symlink(text.c_str(), to.c_str()) != 0) throwErrno("symlink", to);
}

void copyFolder(const std::string& from, const std::string& to, mode_t mode) {
  // Owner-writable while it fills; its own bits are set once its content is in.
  if (file_calls::mkdir(to.c_str(), S_IRWXU) != 0) throwErrno("mkdir", to);
  for (const std::string& name : folderEntries(from)) {
    std::string source = from + "/" + name;
    std::string target = to + "/" + name;
    struct stat st {};
    if (::lstat(source.c_str(), &st) != 0) throwErrno("lstat", source);
    if (S_ISDIR(st.st_mode)) {
      copyFolder(source, target, st.st_mode);
    } else if (S_ISREG(st.st_mode)) {
      copyFile(source, target, st.st_mode);
    } else if (S_ISLNK(st.st_mode)) {
      copyLink(source, target);
    } else {
      // A device, socket or pipe has no place in a bundle.
      throwErrno("copy", source, ENOTSUP);
    }
  }
  if (::chmod(to.c_str(), mode & kPermissionBits) != 0) throwErrno("chmod", to);
  syncFolder(to);
}

}  // namespace

void copyTree(const std::string& from, const std::string& to) {
  struct stat st {};
  if (::stat(from.c_str(), &st) != 0) throwErrno("stat", from);
  if (!S_ISDIR(st.st_mode)) throwErrno("copy", from, ENOTDIR);
  copyFolder(from, to, st.st_mode);
}

void removeTree(const std::string& path) {
  std::error_code ec;
  // A folder the bundle made read-only must be opened up for its content to go.
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    ::chmod(path.c_str(), (st.st_mode & 07777) | S_IRWXU);
    for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_directory(ec) && !it->is_symlink(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
      }
    }
    ec.clear();
  }
  // remove_all removes a link itself and never descends through one.
  std::filesystem::remove_all(path, ec);
  if (ec) throw std::system_error(ec, "remove(" + path + ")");
}

}  // namespace zeph
