#ifndef ZEPH_TESTS_WALLPAPER_STORE_STORE_SANDBOX_H_
#define ZEPH_TESTS_WALLPAPER_STORE_STORE_SANDBOX_H_

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "base/process_values.h"
#include "plist/format.h"
#include "plist/value.h"

/// Shared helpers for the wallpaper-store tests: a throw-away home folder that
/// the process-wide values point at, small value builders, file helpers, and
/// a way to run a step as an unprivileged user (CI runs as root, for whom
/// permission bits mean nothing).
namespace zeph::store_testing {

namespace fs = std::filesystem;

inline plist::Value dict(std::vector<plist::Dictionary::Member> members) {
  return plist::Value(plist::Dictionary::fromMembers(std::move(members), plist::DuplicateKeys::KeepFirst));
}
inline plist::Value array(std::vector<plist::Value> items) {
  return plist::Value(plist::Array(std::move(items)));
}
inline plist::Value str(const char* s) { return plist::Value(s); }

inline std::vector<std::uint8_t> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> fixture(const std::string& name) {
  return readBytes(std::string(ZEPH_SOURCE_DIR) + "/tests/wallpaper_store/data/" + name);
}

/// The names in `folder`, sorted; empty when it does not exist.
inline std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

/// A fresh home folder for one test; the process-wide values point into it.
class StoreSandbox {
 public:
  StoreSandbox() {
    std::string pattern = (fs::temp_directory_path() / "zeph-store-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    root_ = pattern;
    // Readable by the unprivileged user of runUnprivileged().
    ::chmod(root_.c_str(), 0755);
    setProcessValues(root_ + "/Zoë Smith", true);
    fs::create_directories(realHome);
  }
  StoreSandbox(const StoreSandbox&) = delete;
  StoreSandbox& operator=(const StoreSandbox&) = delete;
  ~StoreSandbox() {
    std::error_code ec;
    fs::permissions(root_, fs::perms::all, ec);
    for (auto it = fs::recursive_directory_iterator(root_, ec); it != fs::recursive_directory_iterator();
         ++it) {
      if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(root_, ec);
  }

  std::string storeFolder() const { return fs::path(storePath).parent_path().string(); }
  std::string backupFolder() const { return realHome + "/Library/Application Support/zeph"; }
  std::vector<std::string> backups() const { return namesIn(backupFolder()); }
  void putStore(const std::vector<std::uint8_t>& bytes) const { writeBytes(storePath, bytes); }
  void putStore(const plist::Value& root, plist::Format format) const {
    putStore(plist::write(root, format));
  }
  plist::Value readStore() const { return plist::read(readBytes(storePath)); }

 private:
  std::string root_;  // the temporary folder holding the home
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

}  // namespace zeph::store_testing

#endif  // ZEPH_TESTS_WALLPAPER_STORE_STORE_SANDBOX_H_
