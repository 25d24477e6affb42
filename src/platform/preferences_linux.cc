#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "base/process_values.h"
#include "platform/files.h"
#include "platform/preferences.h"
#include "platform/unique_fd.h"
#include "plist/format.h"
#include "text/calendar_time.h"

// A suite is the binary property list <realHome>/Library/Preferences/<suite>.plist,
// the file a saver process reads. A change is one read-modify-write under an
// flock on "<file>.lock"; replaceFile() writes the new document beside it and
// renames it into place, so a reader sees the old or the new settings and
// never a torn file. A document that does not parse is moved aside, never
// overwritten, and the suite starts afresh.

namespace zeph {
namespace {

std::string suitePath(const std::string& suite) {
  return realHome + "/Library/Preferences/" + suite + ".plist";
}

// Holds an exclusive flock on `path` (created when missing) for its lifetime.
class LockFile {
 public:
  explicit LockFile(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_ < 0) throwErrno("open", path);
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      int error = errno;
      ::close(fd_);
      errno = error;
      throwErrno("flock", path);
    }
  }
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;
  ~LockFile() { ::close(fd_); }  // closing releases the lock

 private:
  int fd_;  // locked descriptor, valid for the object's life
};

// "2026-12-07T21:00:00Z", for the names of documents moved aside.
std::string utcTimestamp() { return formatIsoTimestamp(secondsSince2001Now()).value_or("unknown-time"); }

// Renames `from` to `to` unless `to` exists; false when it does.
bool renameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) return false;
  if (errno != EINVAL && errno != ENOSYS) throwErrno("rename", from);
  // File systems without RENAME_NOREPLACE: link() refuses an existing name too.
  if (::link(from.c_str(), to.c_str()) != 0) {
    if (errno == EEXIST) return false;
    throwErrno("link", from);
  }
  if (::unlink(from.c_str()) != 0) throwErrno("unlink", from);
  return true;
}

// Keeps a document we cannot use under a name of its own, never replacing an
// earlier one: settings are never silently destroyed.
void moveAside(const std::string& path) {
  const std::string base = path + ".corrupt-" + utcTimestamp();
  for (int n = 1;; ++n) {
    std::string target = n == 1 ? base : base + "-" + std::to_string(n);
    if (renameNoReplace(path, target)) return;
  }
}

// The current members: none when the document is absent; a document that
// does not parse or is not a dictionary is moved aside and reads as empty. A
// document that cannot be read at all (permissions, I/O) stops the change, as
// writing would drop the members we could not see.
plist::Dictionary loadForChange(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  try {
    bytes = readFile(path);
  } catch (const std::system_error& e) {
    if (e.code() == std::errc::no_such_file_or_directory) return {};
    throw;
  }
  try {
    plist::Value root = plist::read(bytes);
    if (const plist::Dictionary* d = root.asDictionary()) return *d;
  } catch (const std::exception&) {
    // Falls through to moving it aside.
  }
  moveAside(path);
  return {};
}

plist::Dictionary withChange(const plist::Dictionary& current, const PreferenceChange& change) {
  plist::Dictionary next = current;
  for (const auto& [key, value] : change.set) next.set(key, value);
  if (change.remove.empty()) return next;
  std::vector<plist::Dictionary::Member> kept;
  for (const auto& member : next) {
    bool removed = false;
    for (const std::string& key : change.remove) removed = removed || member.first == key;
    if (!removed) kept.push_back(member);
  }
  return plist::Dictionary::fromMembers(std::move(kept), plist::DuplicateKeys::KeepFirst);
}

void applyChange(const std::string& path, const PreferenceChange& change) {
  createFolders(folderOf(path));
  const std::string lockPath = path + ".lock";
  LockFile lock(lockPath);
  plist::Dictionary next = withChange(loadForChange(path), change);
  replaceFile(path, plist::write(plist::Value(std::move(next)), plist::Format::Binary));
}

}  // namespace

std::optional<plist::Value> preferenceValue(const std::string& suite, const std::string& key) {
  try {
    plist::Value root = plist::read(readFile(suitePath(suite)));
    if (const plist::Value* value = plist::member(root, key)) return *value;
  } catch (const std::exception&) {
    // Unreadable reads as empty.
  }
  return std::nullopt;
}

void applyPreferenceChange(const std::string& suite, const PreferenceChange& change) {
  applyChange(suitePath(suite), change);
}

}  // namespace zeph
