#include "dialog/wait_status.h"

#include <utility>

#include "dialog/dialog.h"

namespace zeph {
namespace {

WaitStatus* innermostSkippable = nullptr;  // main thread only

}  // namespace

std::string waitStatusText(const std::string& what, std::chrono::steady_clock::duration waited,
                           const std::string& hint) {
  std::string text = what;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(waited);
  if (seconds >= kWaitSecondsShownAfter) text += " " + std::to_string(seconds.count()) + " s";
  if (!hint.empty()) text += " \u2014 " + hint;
  return text;
}

WaitStatus::WaitStatus(std::string what, WaitKind kind)
    : what_(std::move(what)), kind_(kind), began_(std::chrono::steady_clock::now()) {
  if (kind_ == WaitKind::Skippable) {
    enclosingSkippable_ = innermostSkippable;
    innermostSkippable = this;
  }
  show();
}

WaitStatus::~WaitStatus() {
  if (kind_ == WaitKind::Skippable) innermostSkippable = enclosingSkippable_;
}

WaitStatus* skippableWaitShown() { return innermostSkippable; }

bool WaitStatus::keepWaiting() {
  show();
  return dialogBackend().keepWaiting();
}

bool WaitStatus::keepWaitingUnlessSkipped() {
  skipped_ = skipped_ || !keepWaiting();
  return !skipped_;
}

void WaitStatus::rename(std::string what) {
  what_ = std::move(what);
  show();
}

void WaitStatus::show() {
  const bool skippable = kind_ == WaitKind::Skippable;
  std::string text =
      waitStatusText(what_, std::chrono::steady_clock::now() - began_, skippable ? "Esc to skip" : "");
  if (text == shown_) return;
  shown_ = std::move(text);
  if (skippable) {
    dialogBackend().showCancellableStatus(shown_);
  } else {
    dialogBackend().showStatus(shown_);
  }
}

}  // namespace zeph
