#ifndef ZEPH_TESTS_SUPPORT_SCRIPTED_DIALOG_H_
#define ZEPH_TESTS_SUPPORT_SCRIPTED_DIALOG_H_

/// A dialog backend for tests: records every alert and status it is shown and
/// answers each alert from a script, in order, installed for its own lifetime.
/// An alert beyond the script fails the test and reads as not shown; so does
/// an answer left unused when it goes, since a test expecting it was wrong
/// about the flow. Waits under a status go on unless the test makes the user
/// press Esc.

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/system_effects.h"
#include "dialog/dialog.h"

namespace zeph::test_support {

struct ScriptedAnswer {
  long response = kFirstButtonResponse;
  std::optional<std::string> typed;  // replaces the field's text; none keeps it
};

/// Presses button `index` (0 is the first, default button).
inline ScriptedAnswer press(int index) { return {kFirstButtonResponse + index, std::nullopt}; }
/// Types `text` into the field (replacing what was there), then presses the first button.
inline ScriptedAnswer typeAndConfirm(std::string text) { return {kFirstButtonResponse, std::move(text)}; }

class ScriptedDialog final : public DialogBackend {
 public:
  explicit ScriptedDialog(std::vector<ScriptedAnswer> script,
                          std::optional<std::string> unavailable = std::nullopt)
      : script_(std::move(script)),
        unavailable_(std::move(unavailable)),
        scope_([this](SystemEffects& effects) {
          effects.dialogBackend = [this]() -> DialogBackend& { return *this; };
        }) {}

  std::optional<std::string> unavailableReason() override { return unavailable_; }

  AlertResult runModal(const Alert& alert) override {
    shown_.push_back(alert);
    events_.push_back("alert: " + alert.messageText);
    if (next_ == script_.size()) {
      ADD_FAILURE() << "alert beyond the script: " << alert.messageText;
      return {};
    }
    const ScriptedAnswer& answer = script_[next_++];
    AlertResult result{answer.response, ""};
    if (alert.field) result.fieldText = answer.typed.value_or(alert.field->text);
    return result;
  }

  ~ScriptedDialog() override {
    if (next_ != script_.size()) {
      ADD_FAILURE() << (script_.size() - next_) << " scripted answer(s) never used; " << shown_.size()
                    << " alert(s) shown";
    }
  }

  void showStatus(const std::string& text) override {
    statuses_.push_back(text);
    events_.push_back("status: " + text);
  }
  void showCancellableStatus(const std::string& text) override {
    statuses_.push_back(text);
    events_.push_back("cancellable status: " + text);
  }
  bool keepWaiting() override {
    ++waitChecks_;
    return !escDuringWaits_;
  }
  void endSession() override { ++sessionsEnded_; }
  void holdInterrupt(bool hold) override { holding_ = hold; }
  bool interruptWasHeld() override { return ctrlCWhileHeld_; }

  /// The user presses Ctrl-C once while a step holds interrupts.
  void pressCtrlCWhileHeld() { ctrlCWhileHeld_ = true; }
  bool holding() const { return holding_; }

  /// Every later wait under a status is called off, as Esc does.
  void pressEscDuringWaits() { escDuringWaits_ = true; }

  const std::vector<Alert>& shown() const { return shown_; }
  const std::vector<std::string>& statuses() const { return statuses_; }
  /// Alerts ("alert: " + message) and statuses ("status: " + text, or
  /// "cancellable status: " + text for a wait the user may call off) in the order shown.
  const std::vector<std::string>& events() const { return events_; }
  int waitChecks() const { return waitChecks_; }
  int sessionsEnded() const { return sessionsEnded_; }

 private:
  std::vector<ScriptedAnswer> script_;
  std::size_t next_ = 0;  // the answer for the next alert
  std::optional<std::string> unavailable_;
  std::vector<Alert> shown_;
  std::vector<std::string> statuses_;
  std::vector<std::string> events_;
  bool escDuringWaits_ = false;
  bool holding_ = false;
  bool ctrlCWhileHeld_ = false;
  int waitChecks_ = 0;
  int sessionsEnded_ = 0;
  ScopedSystemEffects scope_;  // the display of the effects table for this object's lifetime
};

}  // namespace zeph::test_support

#endif  // ZEPH_TESTS_SUPPORT_SCRIPTED_DIALOG_H_
