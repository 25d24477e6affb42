#ifndef ZEPH_PLATFORM_FILES_H_
#define ZEPH_PLATFORM_FILES_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zeph {

// File operations over POSIX calls. Failures throw std::system_error whose
// message names the call and the path, e.g. "open(/Users/a/x.plist): Permission denied".
// Everything written here is flushed to the disk before the call returns, so a
// crash or power cut right afterwards cannot leave a half-written file behind.

/// The whole content of the file at `path`.
std::vector<std::uint8_t> readFile(const std::string& path);

/// The target text of the symbolic link at `path`, whatever its length.
std::string readLink(const std::string& path);

/// Whether anything exists at `path`, following symbolic links (a dangling
/// link counts as nothing). Never throws.
bool pathExists(const std::string& path);

/// Creates the folder at `path` and any missing folders above it, each with
/// mode 0777 less the umask. An existing folder is not an error; an existing
/// item of another kind is.
void createFolders(const std::string& path);

/// Writes `bytes` to a file that did not exist before, in `folder`, named
/// `stem` + `extension`, or `stem` + "-2" + `extension`, "-3", … when a name is
/// taken: an existing file is never overwritten, even by a racing writer.
/// Returns the path written. A failed write removes the partial file.
std::string writeNewFile(const std::string& folder, const std::string& stem, const std::string& extension,
                         std::span<const std::uint8_t> bytes);

/// Replaces the content of the file at `path` with `bytes` so that a reader
/// sees either the old or the new content, never a mix: the bytes go to a
/// temporary file in the same folder, which is flushed and renamed over the
/// file, keeping its permission bits. When `path` is a symbolic link (or a
/// chain of them), the file it finally points to is replaced and the links are
/// kept. On failure the file is unchanged and no temporary file is left.
void replaceFile(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace zeph

#endif  // ZEPH_PLATFORM_FILES_H_
