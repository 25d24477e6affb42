#ifndef ZEPH_BASE_DIALOG_BACKEND_H_
#define ZEPH_BASE_DIALOG_BACKEND_H_

// The interface of the display alerts are drawn on. It lives here, below
// every layer, because the process's table of effects (system_effects.h)
// holds the backend in force; the backends themselves are in dialog/.

#include <optional>
#include <string>
#include <vector>

namespace zeph {

/// One modal alert as the installer describes it: texts, buttons in order and
/// at most one text field. The flows build these and hand them to the
/// process's DialogBackend, which only draws and reads them; no alert text
/// lives in a backend. The first button is the default one and answers
/// kFirstButtonResponse, the next one answers 1001, and so on. An alert
/// without buttons shows the backend's single "OK" button, which answers 1000.

/// What the alert's text field starts with.
struct AlertField {
  std::string placeholder;  // shown dimmed while the field is empty
  std::string text;         // the field's initial text
  int width = 260;          // points; the frame's origin is (0, 0)
  int height = 24;
};

struct Alert {
  std::string messageText;
  std::string informativeText;
  std::vector<std::string> buttons;  // in order; the first is the default
  std::optional<AlertField> field;   // keyboard focus starts here when present
};

/// The response of the first button added, as the platform numbers it.
inline constexpr long kFirstButtonResponse = 1000;
/// The response when the alert could not be shown at all; matches no button.
inline constexpr long kAlertNotShown = 0;

struct AlertResult {
  long response = kAlertNotShown;
  std::string fieldText;  // the field's final text; empty without a field
};

/// Draws alerts on one kind of display.
class DialogBackend {
 public:
  virtual ~DialogBackend() = default;
  /// Why no alert can be shown in this process (no terminal, no window
  /// system), or none when alerts can be shown. Looked at before anything
  /// is changed, so that a run nobody can answer stops at once.
  virtual std::optional<std::string> unavailableReason() = 0;
  /// Shows `alert` modally and waits for the answer. Nothing typed before
  /// the alert was on screen answers it.
  virtual AlertResult runModal(const Alert& alert) = 0;

  // An interactive run keeps one display from its first alert to its last;
  // between alerts it says what it is doing (the terminal draws it on its
  // screen, AppKit in a small panel of its own). The defaults do nothing.

  /// Shows `text` ("Installing…") until the next alert or status; returns at once.
  virtual void showStatus(const std::string& text) { (void)text; }
  /// showStatus() for a wait the user may call off (a lookup): the display
  /// offers the way to (Esc; a Cancel button on the Mac), and keepWaiting()
  /// answers false once it was taken. By default, showStatus().
  virtual void showCancellableStatus(const std::string& text) { showStatus(text); }
  /// Called every few tens of milliseconds while work runs under a status:
  /// reads what the user pressed and returns false once they asked to stop
  /// waiting (Esc). Ends the process like stopIfInterrupted().
  virtual bool keepWaiting() { return true; }
  /// When a signal (Ctrl-C, SIGTERM, SIGHUP, SIGQUIT) asked the run to end
  /// while the display was up: puts the display back and ends the process by
  /// that signal. Called between steps that must not be cut in half.
  virtual void stopIfInterrupted() {}
  /// Puts the display back as it was before the first alert or status.
  virtual void endSession() {}
  /// While `hold` is true, a first Ctrl-C (SIGINT) does not end the run: it
  /// is only noted for interruptWasHeld(), and a second one ends the run as
  /// stopIfInterrupted() does. For work that had better finish than stop
  /// half-way. Backends that take no signals of their own keep the defaults.
  virtual void holdInterrupt(bool hold) { (void)hold; }
  /// Whether a Ctrl-C was noted while held, since the session began.
  virtual bool interruptWasHeld() { return false; }
};

}  // namespace zeph

#endif  // ZEPH_BASE_DIALOG_BACKEND_H_
