#ifndef ZEPH_PLATFORM_FILES_H_
#define ZEPH_PLATFORM_FILES_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zeph {

// File operations over POSIX calls. Failures throw std::system_error whose
// message names the call and the path, e.g. "open(/Users/a/x.plist): Permission denied",
// or std::runtime_error naming the path for problems that have no errno.
// Everything written here is flushed to the disk before the call returns, so a
// crash or power cut right afterwards cannot leave a half-written file behind.

/// The largest file readFile() takes unless told otherwise: real stores are
/// kilobytes, and a store of 15,000 slots is 6 MB.
inline constexpr std::uint64_t kMaxReadBytes = std::uint64_t{256} << 20;

/// The whole content of the regular file at `path`. Anything else (a folder,
/// a FIFO, a device, a socket) is refused before it is opened, so a read
/// never blocks or runs on for ever; so is a file over `maxBytes`. Running
/// out of memory reads "not enough memory to read <path> (<size>)".
std::vector<std::uint8_t> readFile(const std::string& path, std::uint64_t maxBytes = kMaxReadBytes);

/// The target text of the symbolic link at `path`, whatever its length.
std::string readLink(const std::string& path);

/// Whether anything exists at `path`, following symbolic links (a dangling
/// link counts as nothing). Never throws.
bool pathExists(const std::string& path);

/// Whether a regular file is at `path` (links followed). False only when
/// nothing is there: nothing at `path`, or nothing at its first missing
/// folder above it, with no dangling link on the way. Everything else that
/// keeps a look at the path (permission denied, a loop of links, a dangling
/// link, a component that is not a folder, a name too long, an I/O error)
/// throws, naming the path and the cause, as does an item that is not a
/// regular file.
bool regularFileExists(const std::string& path);

/// What stat() says of a file that changes when anyone writes it: which
/// file it is, its size and when its content last changed.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modifiedSeconds = 0;
  std::int64_t modifiedNanoseconds = 0;
  bool operator==(const FileStamp&) const = default;
};

/// The stamp of what `path` leads to (links followed). Throws as stat() fails.
FileStamp fileStamp(const std::string& path);

/// The names in the folder at `path`, without "." and "..", in no order.
std::vector<std::string> folderEntries(const std::string& path);

/// The permission bits (07777) of what `path` leads to. Throws.
unsigned filePermissions(const std::string& path);

/// Creates the folder at `path` and any missing folders above it, each with
/// mode 0777 less the umask. An existing folder is not an error; an existing
/// item of another kind is, and a dangling link is reported as one.
void createFolders(const std::string& path);

/// Writes `bytes` to a file that did not exist before, in `folder`, named
/// `stem` + `extension`, or `stem` + "-2" + `extension`, "-3", … when a name is
/// taken: an existing file is never overwritten, even by a racing writer. The
/// bytes go to a temporary file first (see isTemporaryName()), flushed and
/// then given its final name, so a file under such a name is always complete.
/// The file gets the permission bits `mode` (never the execute bits).
/// Returns the path written. A failure leaves no file behind.
std::string writeNewFile(const std::string& folder, const std::string& stem, const std::string& extension,
                         std::span<const std::uint8_t> bytes, unsigned mode = 0666);

/// Replaces the content of the file at `path` with `bytes` so that a reader
/// sees either the old or the new content, never a mix: the bytes go to a
/// temporary file in the same folder, which is flushed and renamed over the
/// file, keeping its permission bits, owner and extended attributes (a
/// failure to copy an attribute is noted on standard error only). When `path`
/// is a symbolic link (or a chain of them), the file it finally points to is
/// replaced and the links are kept. On failure the file is unchanged and no
/// temporary file is left.
void replaceFile(const std::string& path, std::span<const std::uint8_t> bytes);

/// The first half of replaceFile(), for changing several files together: the
/// new content of `path` written and flushed under a temporary name in the
/// target's folder. commitReplacement() renames it over the target;
/// discardReplacement() removes it. Throws as replaceFile() does, leaving nothing.
struct PreparedReplacement {
  std::string temporary;  // the flushed new content
  std::string target;     // the file it replaces, links resolved
};
PreparedReplacement prepareReplacement(const std::string& path, std::span<const std::uint8_t> bytes);

/// Puts a prepared replacement in place with one rename; syncFolder() on the
/// target's folder then makes it last. On failure the target is unchanged,
/// the temporary file removed, and it throws.
void commitReplacement(const PreparedReplacement& prepared);

/// Removes a prepared replacement that is not going to be committed. Never throws.
void discardReplacement(const PreparedReplacement& prepared) noexcept;

/// Whether `name` (a file name, no folder) is one of the temporary names
/// writeNewFile() and replaceFile() give a file whose final name starts with
/// `finalPrefix` while they write it: "." + final name + "." + … + ".tmp".
bool isTemporaryName(const std::string& name, const std::string& finalPrefix);

/// Removes the temporary files in `folder` left by writers of files whose
/// names start with `finalPrefix` and that were stopped before they finished.
/// Call it only while no other writer can be at work there. Best effort:
/// never throws.
void removeStaleTemporaries(const std::string& folder, const std::string& finalPrefix);

/// Removes the temporary files that replaceFile() and prepareReplacement()
/// of `path`, stopped before they finished, left where they make them: in the
/// folder of the file a link at `path` finally points to. Call it only while
/// no other writer of `path` can be at work. Best effort: never throws.
void removeStaleReplacements(const std::string& path);

/// Puts the item at `fresh` at `dest` in one rename, whatever is at `dest`.
/// What was at `dest` is moved to `aside` (which must not exist) and its path
/// returned; nothing there returns none. A reader of `dest` sees the old item
/// or the new one, never neither, where the system can swap two names in one
/// step; elsewhere `dest` is empty for the moment between two renames. On
/// failure both items are where they were.
std::optional<std::string> swapIntoPlace(const std::string& fresh, const std::string& dest,
                                         const std::string& aside);

/// The folder part of `path`: "." for a bare name, "/" for a name at the root.
std::string folderOf(const std::string& path);

/// The last component of `path`.
std::string nameOf(const std::string& path);

/// Flushes the folder at `path`, so that names made in it survive a crash.
/// File systems that cannot (EINVAL, ENOTSUP) are let be.
void syncFolder(const std::string& path);

}  // namespace zeph

#endif  // ZEPH_PLATFORM_FILES_H_
