#ifndef ZEPH_LOCATION_LOOKUP_STATUS_H_
#define ZEPH_LOCATION_LOOKUP_STATUS_H_

#include <string>
#include <utility>

#include "dialog/dialog.h"
#include "net/fetch_json.h"

namespace zeph {

/// Runs `lookup` (a web lookup that never throws) with `status` on screen,
/// so a hanging network shows what the run waits for. Esc (Cancel on the
/// Mac) during the wait makes the lookup give none, as any failed lookup does.
template <typename Lookup>
auto lookUpShowingStatus(const std::string& status, Lookup&& lookup) {
  DialogBackend& dialog = dialogBackend();
  dialog.showCancellableStatus(status);
  ScopedFetchWaitCheck check([&dialog] { return dialog.keepWaiting(); });
  return std::forward<Lookup>(lookup)();
}

}  // namespace zeph

#endif  // ZEPH_LOCATION_LOOKUP_STATUS_H_
