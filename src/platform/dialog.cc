#include "platform/dialog.h"

#include <exception>

namespace zeph {

namespace {
DialogBackend* installedBackend = nullptr;  // set only by ScopedDialogBackend
}  // namespace

DialogBackend& dialogBackend() { return installedBackend ? *installedBackend : platformDialogBackend(); }

DialogSession::DialogSession() : uncaughtAtStart_(std::uncaught_exceptions()) {}

DialogSession::~DialogSession() {
  if (std::uncaught_exceptions() == uncaughtAtStart_) dialogBackend().endSession();
}

ScopedDialogBackend::ScopedDialogBackend(DialogBackend& backend) : previous_(installedBackend) {
  installedBackend = &backend;
}

ScopedDialogBackend::~ScopedDialogBackend() { installedBackend = previous_; }

}  // namespace zeph
