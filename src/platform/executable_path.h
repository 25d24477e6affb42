#ifndef ZEPH_PLATFORM_EXECUTABLE_PATH_H_
#define ZEPH_PLATFORM_EXECUTABLE_PATH_H_

#include <optional>
#include <string>

namespace zeph {

/// The running program's file as the system reports it: absolute, though it
/// may still pass through symbolic links. None when the system cannot tell.
std::optional<std::string> executablePath();

}  // namespace zeph

#endif  // ZEPH_PLATFORM_EXECUTABLE_PATH_H_
