#include "dialog/dialog.h"

#include <exception>

namespace zeph {

namespace {

DialogBackend* installedBackend = nullptr;  // set only by ScopedDialogBackend

#ifdef ZEPH_DIALOGS_UNAVAILABLE
// A test build that starts the installer must never put an alert on the
// screen of the machine running the tests; interactive runs stop at once.
class UnavailableDialogBackend final : public DialogBackend {
 public:
  std::optional<std::string> unavailableReason() override { return "this test build shows no alerts"; }
  AlertResult runModal(const Alert&) override { return {}; }
};
#endif

}  // namespace

DialogBackend& dialogBackend() {
  if (installedBackend != nullptr) return *installedBackend;
#ifdef ZEPH_DIALOGS_UNAVAILABLE
  static UnavailableDialogBackend unavailable;
  return unavailable;
#else
  return platformDialogBackend();
#endif
}

DialogSession::DialogSession() : uncaughtAtStart_(std::uncaught_exceptions()) {}

DialogSession::~DialogSession() {
  if (std::uncaught_exceptions() == uncaughtAtStart_) dialogBackend().endSession();
}

ScopedDialogBackend::ScopedDialogBackend(DialogBackend& backend) : previous_(installedBackend) {
  installedBackend = &backend;
}

ScopedDialogBackend::~ScopedDialogBackend() { installedBackend = previous_; }

}  // namespace zeph
