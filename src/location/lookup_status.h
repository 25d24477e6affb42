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
  bool cancelled = false;
  ScopedFetchWaitCheck check([&] {
    cancelled = cancelled || !status.keepWaiting();
    return !cancelled;
  });
  auto result = std::forward<Lookup>(lookup)();
  return LookupOutcome<decltype(result)>{std::move(result), cancelled};
}

}  // namespace zeph

#endif  // ZEPH_LOCATION_LOOKUP_STATUS_H_
