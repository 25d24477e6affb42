#ifndef ZEPH_DIALOG_WAIT_STATUS_H_
#define ZEPH_DIALOG_WAIT_STATUS_H_

#include <chrono>
#include <string>

namespace zeph {

/// From this long on, a wait's status counts the seconds.
inline constexpr std::chrono::seconds kWaitSecondsShownAfter{2};

/// The status of a wait: what is awaited ("Looking up your location…"), then
/// the whole seconds `waited` once they reach kWaitSecondsShownAfter ("5 s"),
/// then `hint` ("Esc to skip") after a dash when there is one.
std::string waitStatusText(const std::string& what, std::chrono::steady_clock::duration waited,
                           const std::string& hint);

/// Whether the user may call a wait off: a lookup may be skipped, an install
/// must finish.
enum class WaitKind { MustFinish, Skippable };

/// A status that explains a wait on the process's dialog backend: shown when
/// made, redrawn as its seconds change. A skippable one is a cancellable
/// status ending in "Esc to skip" (Esc, or the Mac's Cancel button); while
/// it lives, a web lookup's wait asks it whether to go on (skippableWaitShown()).
class WaitStatus {
 public:
  WaitStatus(std::string what, WaitKind kind);
  ~WaitStatus();
  WaitStatus(const WaitStatus&) = delete;
  WaitStatus& operator=(const WaitStatus&) = delete;

  /// Redraws the status when its text changed, then asks the backend whether
  /// to go on waiting (false once the user pressed Esc).
  bool keepWaiting();

  /// keepWaiting() until it first answers false, then false without asking
  /// again: a skipped wait stays skipped.
  bool keepWaitingUnlessSkipped();
  /// Whether keepWaitingUnlessSkipped() answered false.
  bool skipped() const { return skipped_; }

  /// Shows `what` from now on; the seconds count on from when the wait began.
  void rename(std::string what);

 private:
  void show();

  std::string what_;
  WaitKind kind_;
  std::chrono::steady_clock::time_point began_;
  std::string shown_;  // the text last drawn
  bool skipped_ = false;
  WaitStatus* enclosingSkippable_ = nullptr;  // the skippable wait shown before this one
};

/// The innermost skippable wait alive, or null.
WaitStatus* skippableWaitShown();

}  // namespace zeph

#endif  // ZEPH_DIALOG_WAIT_STATUS_H_
