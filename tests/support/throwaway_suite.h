#ifndef ZEPH_TESTS_SUPPORT_THROWAWAY_SUITE_H_
#define ZEPH_TESTS_SUPPORT_THROWAWAY_SUITE_H_

/// On Apple the saver's suite lives in the user's real preferences, which
/// CFPreferences keeps whatever HOME says: a test writing app.zeph.zeph would
/// change the developer's own saver. So while this object lives, prefsSuite
/// names a domain of the test process's own (app.zeph.test.<pid>), emptied of
/// every key the installer writes when it ends. Elsewhere the suite is a file
/// in the sandbox home and nothing changes.

#include <unistd.h>

#include <string>

#include "base/process_values.h"
#include "platform/preferences.h"

namespace zeph::test_support {

class ThrowAwaySuite {
 public:
  ThrowAwaySuite() : previous_(prefsSuite) {
#ifdef __APPLE__
    setPrefsSuite("app.zeph.test." + std::to_string(::getpid()));
#endif
  }
  ~ThrowAwaySuite() {
#ifdef __APPLE__
    PreferenceChange removeAll;
    removeAll.remove = {"manualLatitude",         "manualLongitude",       "manualLocationName",
                        "locationSetupAsked",     "useIpLocationFallback", "cachedTempRaw",
                        "cachedTempIsFahrenheit", "cachedTempIsFeelsLike", "cachedTempTime",
                        "cachedLatitude",         "cachedLongitude"};
    applyPreferenceChange(prefsSuite, removeAll);
#endif
    setPrefsSuite(previous_);
  }
  ThrowAwaySuite(const ThrowAwaySuite&) = delete;
  ThrowAwaySuite& operator=(const ThrowAwaySuite&) = delete;

 private:
  std::string previous_;  // the suite to name again afterwards
};

}  // namespace zeph::test_support

#endif  // ZEPH_TESTS_SUPPORT_THROWAWAY_SUITE_H_
