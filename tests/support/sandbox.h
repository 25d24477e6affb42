#ifndef ZEPH_TESTS_SUPPORT_SANDBOX_H_
#define ZEPH_TESTS_SUPPORT_SANDBOX_H_

/// The test sandbox: a throw-away folder, a home inside it that the
/// process-wide values point at, byte helpers, and a way to run a step as an
/// unprivileged user (CI runs as root, for whom permission bits mean nothing).

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/process_values.h"
#include "plist/format.h"
#include "plist/value.h"
#include "support/build_paths.h"

namespace zeph::test_support {

namespace fs = std::filesystem;

inline std::vector<std::uint8_t> readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string readText(const fs::path& path) {
  const std::vector<std::uint8_t> bytes = readBytes(path);
  return {bytes.begin(), bytes.end()};
}

/// Writes `bytes` at `path`, creating the folders on the way.
inline void writeBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

/// Writes `root` at `path` in `format`; returns the bytes written.
inline std::vector<std::uint8_t> putPlist(const fs::path& path, const plist::Value& root,
                                          plist::Format format = plist::Format::Binary) {
  std::vector<std::uint8_t> bytes = plist::write(root, format);
  writeBytes(path, bytes);
  return bytes;
}

/// A file of tests/wallpaper_store/data.
inline std::vector<std::uint8_t> fixture(const std::string& name) {
  return readBytes(sourceDir() / "tests/wallpaper_store/data" / name);
}

/// The names in `folder`, sorted; empty when it does not exist.
inline std::vector<std::string> namesIn(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

inline fs::path storeFile(const fs::path& home) {
  return home / "Library/Application Support/com.apple.wallpaper/Store/Index.plist";
}
inline fs::path secondStoreFile(const fs::path& home) {
  return storeFile(home).parent_path() / "Index2.plist";
}
inline fs::path saverFolder(const fs::path& home) { return home / "Library/Screen Savers/zeph.saver"; }
inline fs::path backupFolder(const fs::path& home) { return home / "Library/Application Support/zeph"; }

/// The store backups in the backup folder (which also holds the marker a
/// successful run leaves), sorted.
inline std::vector<std::string> backupNames(const fs::path& home) {
  std::vector<std::string> names;
  for (const std::string& name : namesIn(backupFolder(home))) {
    if (name.rfind("wallpaper-store-backup-", 0) == 0) names.push_back(name);
  }
  return names;
}

/// A fresh folder under the temporary folder, readable by the unprivileged
/// user of runUnprivileged(); removed with its content, even when a test made
/// parts of it read-only.
class Sandbox {
 public:
  Sandbox() {
    std::string pattern = (fs::temp_directory_path() / "zeph-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    ::chmod(path_.c_str(), 0755);
  }
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;
  ~Sandbox() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::all, ec);
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_directory(ec) && !it->is_symlink(ec)) fs::permissions(it->path(), fs::perms::owner_all, ec);
    }
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;  // absolute, exists until destruction
};

/// A sandbox holding a home folder ("Zoë Smith", a name with a space and a
/// non-ASCII letter) that the process-wide values point at, headless.
class HomeSandbox : public Sandbox {
 public:
  HomeSandbox() {
    setProcessValues((path() / "Zoë Smith").string(), true);
    fs::create_directories(realHome);
  }

  std::string storeFolder() const { return fs::path(storePath).parent_path().string(); }
  std::string backupFolder() const { return test_support::backupFolder(realHome).string(); }
  std::vector<std::string> backups() const { return namesIn(backupFolder()); }
  void putStore(const std::vector<std::uint8_t>& bytes) const { writeBytes(storePath, bytes); }
  void putStore(const plist::Value& root, plist::Format format) const {
    putStore(plist::write(root, format));
  }
  plist::Value readStore() const { return plist::read(readBytes(storePath)); }
};

/// Runs `step` in a child process as user and group 65534 when this process
/// is root (as itself otherwise). The child's exit status is `step`'s result.
inline int runUnprivileged(const std::function<int()>& step) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(99);
    }
    int rc = 98;
    try {
      rc = step();
    } catch (...) {
    }
    ::_exit(rc);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/// The message of what `f` throws, or "(no error)"; an exception other than
/// an `E` goes on to the caller.
template <typename E = std::exception, typename F>
std::string anyErrorOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "(no error)";
}

/// Runs `step` as runUnprivileged() does and returns the message of what it
/// threw, or "(no error)".
inline std::string errorUnprivileged(const std::function<void()>& step) {
  int fds[2];
  if (::pipe(fds) != 0) return "(pipe failed)";
  int rc = runUnprivileged([&] {
    ::close(fds[0]);
    std::string message = "(no error)";
    try {
      step();
    } catch (const std::exception& e) {
      message = e.what();
    }
    return ::write(fds[1], message.data(), message.size()) == static_cast<ssize_t>(message.size()) ? 0 : 1;
  });
  ::close(fds[1]);
  std::string message;
  char buffer[512];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
    message.append(buffer, static_cast<std::size_t>(n));
  ::close(fds[0]);
  return rc == 0 ? message : "(child failed: " + std::to_string(rc) + ")";
}

/// Opens the sandbox up to the unprivileged user: every folder on the way to
/// `path` searchable and, with `writable`, `path` itself writable by all.
inline void openUp(const std::string& path, bool writable) {
  fs::path p(path);
  const fs::path top = fs::temp_directory_path();
  for (fs::path at = p; !at.empty() && at != top && at != at.root_path(); at = at.parent_path()) {
    struct stat st {};
    if (::stat(at.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ::chmod(at.c_str(), (st.st_mode & 07777) | 0555);
  }
  if (writable) ::chmod(path.c_str(), 0777);
}

}  // namespace zeph::test_support

#endif  // ZEPH_TESTS_SUPPORT_SANDBOX_H_
