#ifndef ZEPH_LOCATION_SAVER_PREFERENCES_H_
#define ZEPH_LOCATION_SAVER_PREFERENCES_H_

#include <optional>
#include <string>

namespace zeph {

/// Whether the saver already knows where it is: "manualLatitude" holds any
/// value, or "useIpLocationFallback" is true.
bool hasLocationConfigured();

/// Records the chosen place and drops the saver's cached reading. Raises
/// when the preferences could not be written.
void storeLocation(double latitude, double longitude, const std::string& name);

/// storeLocation for the location flow: a failure is printed as
/// "error: couldn't save the city: <cause>" on standard error and gives
/// false, so that the flow never names a city that was not stored.
bool storeLocationOrReport(double latitude, double longitude, const std::string& name);

/// The stored "manualLocationName" when it is a string, else none.
std::optional<std::string> storedLocationName();

}  // namespace zeph

#endif  // ZEPH_LOCATION_SAVER_PREFERENCES_H_
