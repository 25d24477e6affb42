#ifndef ZEPH_PLATFORM_PREFERENCES_H_
#define ZEPH_PLATFORM_PREFERENCES_H_

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "plist/value.h"

namespace zeph {

// A per-user preferences suite, shared with the saver process. On Apple it is
// the CFPreferences application domain named `suite` (falling back to the
// installer's own domain when the suite cannot be opened); elsewhere the binary
// property list <realHome>/Library/Preferences/<suite>.plist.
// Reads never fail: an unreadable suite reads as empty.

/// The stored value under `key`, of whatever kind, or none.
std::optional<plist::Value> preferenceValue(const std::string& suite, const std::string& key);

/// One change to a suite: the values to set, in order, then the keys to
/// remove, in order; all of it flushed to persistent storage before return,
/// so that another process sees the whole change or none of it. Raises
/// (std::system_error naming the call and the file where there is one) when
/// the change could not be stored: a caller must never report it as saved.
struct PreferenceChange {
  std::vector<std::pair<std::string, plist::Value>> set;
  std::vector<std::string> remove;
};
void applyPreferenceChange(const std::string& suite, const PreferenceChange& change);

}  // namespace zeph

#endif  // ZEPH_PLATFORM_PREFERENCES_H_
