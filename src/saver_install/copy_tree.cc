#include "saver_install/copy_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include <vector>

#include "platform/files.h"
#include "platform/unique_fd.h"

namespace zeph {
namespace {

constexpr mode_t kPermissionBits = 0777;

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

std::vector<std::string> folderEntries(const std::string& path) {
  std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
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

void copyFile(const std::string& from, const std::string& to, mode_t mode) {
  UniqueFd in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (in.get() < 0) throwErrno("open", from);
  UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR));
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
      ssize_t w = ::write(out.get(), buffer + done, static_cast<std::size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        throwErrno("write", to);
      }
      done += w;
    }
  }
  // Set after creation: the umask must not narrow the bundle's own bits.
  if (::fchmod(out.get(), mode & kPermissionBits) != 0) throwErrno("chmod", to);
  if (out.close() != 0) throwErrno("close", to);
}

void copyLink(const std::string& from, const std::string& to) {
  std::string text = readLink(from);
  if (::symlink(text.c_str(), to.c_str()) != 0) throwErrno("symlink", to);
}

void copyFolder(const std::string& from, const std::string& to, mode_t mode) {
  // Owner-writable while it fills; its own bits are set once its content is in.
  if (::mkdir(to.c_str(), S_IRWXU) != 0) throwErrno("mkdir", to);
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
  // remove_all removes a link itself and never descends through one.
  std::filesystem::remove_all(path, ec);
  if (ec) throw std::system_error(ec, "remove(" + path + ")");
}

}  // namespace zeph
