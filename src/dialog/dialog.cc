#include "dialog/dialog.h"

#include <exception>

#include "base/system_effects.h"

namespace zeph {

namespace {

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
  if (const auto& replaced = systemEffects().dialogBackend) return replaced();
#ifdef ZEPH_DIALOGS_UNAVAILABLE
  static UnavailableDialogBackend unavailable;
  return unavailable;
#else
  return platformDialogBackend();
#endif
}

#if defined(__APPLE__)
std::optional<dev_t> dialogScreenDevice() { return std::nullopt; }
#endif

DialogSession::DialogSession() : uncaughtAtStart_(std::uncaught_exceptions()) {}

DialogSession::~DialogSession() {
  if (std::uncaught_exceptions() == uncaughtAtStart_) dialogBackend().endSession();
}

}  // namespace zeph
