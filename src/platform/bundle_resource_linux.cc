#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/bundle_resource.h"

namespace zeph {
namespace {

bool isFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The running executable's own path; /proc/self/exe is already resolved.
std::optional<std::string> executablePath() {
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::nullopt;
    if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::optional<std::string> bundledSaverPath() {
  std::optional<std::string> exe = executablePath();
  if (!exe) return std::nullopt;
  std::filesystem::path folder = std::filesystem::path(*exe).parent_path();
  // An application-style layout first, then the installed prefix layout.
  for (const char* relative : {"../Resources/zeph.saver", "../share/zeph/zeph.saver"}) {
    std::string candidate = (folder / relative).lexically_normal().string();
    if (isFolder(candidate)) return candidate;
  }
  return std::nullopt;
}

}  // namespace zeph
