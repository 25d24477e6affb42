#include "platform/bundle_resource.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "platform/executable_path.h"

namespace zeph {
namespace {

bool isFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::string> resolved(const std::string& path) {
  std::unique_ptr<char, decltype(&::free)> real(::realpath(path.c_str(), nullptr), &::free);
  if (!real) return std::nullopt;
  return std::string(real.get());
}

}  // namespace

std::optional<std::string> saverBundleBeside(const std::string& executable) {
  std::optional<std::string> real = resolved(executable);
  if (!real) return std::nullopt;
  std::filesystem::path folder = std::filesystem::path(*real).parent_path();
  for (const char* relative : {"../Resources/zeph.saver", "../share/zeph/zeph.saver"}) {
    std::string candidate = (folder / relative).lexically_normal().string();
    if (isFolder(candidate)) return candidate;
  }
  return std::nullopt;
}

std::optional<std::string> bundledSaverPath() {
  std::optional<std::string> executable = executablePath();
  if (!executable) return std::nullopt;
  return saverBundleBeside(*executable);
}

}  // namespace zeph
