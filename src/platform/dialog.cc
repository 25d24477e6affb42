#include "platform/dialog.h"

#include <exception>

namespace zeph {

namespace {
DialogBackend* installedBackend = nullptr;  // set only by ScopedDialogBackend
std::optional<dev_t> screenDevice;          // set only while a terminal screen is up
}  // namespace

DialogBackend& dialogBackend() { return installedBackend ? *installedBackend : platformDialogBackend(); }

std::optional<dev_t> dialogScreenDevice() { return screenDevice; }
void noteDialogScreenDevice(std::optional<dev_t> device) { screenDevice = device; }

DialogSession::DialogSession() : uncaughtAtStart_(std::uncaught_exceptions()) {}

DialogSession::~DialogSession() {
  if (std::uncaught_exceptions() == uncaughtAtStart_) dialogBackend().endSession();
}

ScopedDialogBackend::ScopedDialogBackend(DialogBackend& backend) : previous_(installedBackend) {
  installedBackend = &backend;
}

ScopedDialogBackend::~ScopedDialogBackend() { installedBackend = previous_; }

}  // namespace zeph
