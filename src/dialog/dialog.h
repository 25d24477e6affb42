#ifndef ZEPH_PLATFORM_DIALOG_H_
#define ZEPH_PLATFORM_DIALOG_H_

#include <sys/types.h>

#include <optional>

#include "base/dialog_backend.h"

namespace zeph {

/// The backend the process uses: the effects table's, else the platform's
/// own (AppKit on Apple, the terminal elsewhere).
DialogBackend& dialogBackend();

/// While the terminal backend's screen is up, that terminal's device number
/// (st_rdev); none otherwise, and always on Apple, whose alerts are windows.
/// The entry hands it to the child-process runner through the effects table.
std::optional<dev_t> dialogScreenDevice();

/// The platform's own backend; defined by the platform's dialog file.
DialogBackend& platformDialogBackend();

/// Keeps the process's dialog display from the first alert to the last. Ends
/// it on a normal return; while an error travels to the failure alert the
/// display stays up for that alert, which ends it.
class DialogSession {
 public:
  DialogSession();
  ~DialogSession();
  DialogSession(const DialogSession&) = delete;
  DialogSession& operator=(const DialogSession&) = delete;

 private:
  int uncaughtAtStart_;  // std::uncaught_exceptions() when the session began
};

}  // namespace zeph

#endif  // ZEPH_PLATFORM_DIALOG_H_
