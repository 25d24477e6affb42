#include "platform/home.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace zeph {
namespace {

std::optional<std::string> absoluteWithoutTrailingSlash(const char* path) {
  if (path == nullptr || path[0] != '/') return std::nullopt;
  std::string home(path);
  while (!home.empty() && home.back() == '/') home.pop_back();
  return home;
}

// The home of the user-database entry that `lookUp` finds, through the
// reentrant call it makes with the buffer it is given.
template <typename LookUp>
std::optional<std::string> databaseHome(LookUp&& lookUp) {
  long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<std::size_t>(hint) : 4096);
  for (;;) {
    passwd entry{};
    passwd* found = nullptr;
    int rc = lookUp(&entry, buffer.data(), buffer.size(), &found);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc != 0 || found == nullptr) return std::nullopt;
    return absoluteWithoutTrailingSlash(found->pw_dir);
  }
}

}  // namespace

std::optional<std::string> currentUserHome() {
  if (auto home = absoluteWithoutTrailingSlash(std::getenv("HOME"))) return home;
  return databaseHome([](passwd* entry, char* buffer, std::size_t size, passwd** found) {
    return ::getpwuid_r(::getuid(), entry, buffer, size, found);
  });
}

std::optional<std::string> userHome(const std::string& name) {
  if (name.empty()) return std::nullopt;
  return databaseHome([&name](passwd* entry, char* buffer, std::size_t size, passwd** found) {
    return ::getpwnam_r(name.c_str(), entry, buffer, size, found);
  });
}

}  // namespace zeph
