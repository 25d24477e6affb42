#ifndef ZEPH_LOCATION_LOOKUP_STATUS_H_
#define ZEPH_LOCATION_LOOKUP_STATUS_H_

#include <string>
#include <utility>

#include "dialog/wait_status.h"
#include "net/fetch_json.h"

namespace zeph {

/// A web lookup's result, and whether the user called the lookup off.
template <typename Result>
struct LookupOutcome {
  Result result;
  bool cancelled = false;  // Esc during the wait; the result is then a failure
};

/// Runs `lookup` (a web lookup that never throws) with `what` on the status,
/// counting the seconds and offering to skip it (Esc; Cancel on the Mac), so a hanging network shows
/// what the run waits for. Esc during the wait makes the lookup fail at once.
template <typename Lookup>
auto lookUpShowingStatus(const std::string& what, Lookup&& lookup) {
  WaitStatus status(what, WaitKind::Skippable);
  auto result = std::forward<Lookup>(lookup)();
  return LookupOutcome<decltype(result)>{std::move(result), status.skipped()};
}

/// The check a lookup's fetch waits with: the skippable status it runs under
/// (lookUpShowingStatus), when there is one; none otherwise.
inline WaitCheck skipCheckOfShownWait() {
  WaitStatus* wait = skippableWaitShown();
  if (wait == nullptr) return {};
  return [wait] { return wait->keepWaitingUnlessSkipped(); };
}

}  // namespace zeph

#endif  // ZEPH_LOCATION_LOOKUP_STATUS_H_
