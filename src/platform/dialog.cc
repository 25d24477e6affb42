#include "platform/dialog.h"

namespace zeph {

namespace {
DialogBackend* installedBackend = nullptr;  // set only by ScopedDialogBackend
}  // namespace

DialogBackend& dialogBackend() { return installedBackend ? *installedBackend : platformDialogBackend(); }

ScopedDialogBackend::ScopedDialogBackend(DialogBackend& backend) : previous_(installedBackend) {
  installedBackend = &backend;
}

ScopedDialogBackend::~ScopedDialogBackend() { installedBackend = previous_; }

}  // namespace zeph
