#include "platform/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <thread>

namespace zeph {

ScopedFolderLock::ScopedFolderLock(const std::string& folder, std::chrono::milliseconds wait)
    : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  if (fd_.get() < 0) throwErrno("open", folder);
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) {
      held_ = true;
      return;
    }
    if (errno == EINTR) continue;
    if (errno == ENOLCK || errno == ENOTSUP) return;
#if EOPNOTSUPP != ENOTSUP
    if (errno == EOPNOTSUPP) return;
#endif
    if (errno != EWOULDBLOCK) throwErrno("flock", folder);
    if (std::chrono::steady_clock::now() >= deadline) throw FolderBusy(folder + " is locked by another process");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace zeph
