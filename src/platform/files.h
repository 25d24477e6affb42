#ifndef ZEPH_PLATFORM_FILES_H_
#define ZEPH_PLATFORM_FILES_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zeph {

// File operations over POSIX calls. Failures throw std::system_error whose
// message names the call and the path, e.g. "open(/Users/a/x.plist): Permission denied".

/// The whole content of the file at `path`.
std::vector<std::uint8_t> readFile(const std::string& path);

}  // namespace zeph

#endif  // ZEPH_PLATFORM_FILES_H_
