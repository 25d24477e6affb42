#include "location/location_setup.h"

#include "dialog/dialog.h"
#include "location/lookup_status.h"
#include "location/saver_preferences.h"

namespace zeph {

namespace {

Alert ipPlaceAlert(const IpPlace& place, const std::string& label) {
  Alert alert;
  alert.messageText = "Show weather for " + place.city + "?";
  alert.informativeText = "Your internet connection looks like it's near " + label +
                          ". zeph will use that for the temperature \u2014 you can change it anytime in "
                          "zeph's settings.";
  alert.buttons = {"Use " + place.city, "Pick a different city"};
  return alert;
}

// The name the prompt stored, for the completion alert.
std::optional<std::string> promptForCity(const std::string& prefill, const GeocodeFunction& geocode) {
  if (!askForCity(prefill, geocode)) return std::nullopt;
  return storedLocationName();
}

}  // namespace

std::optional<std::string> runLocationSetup(const LocationLookups& lookups) {
  if (hasLocationConfigured()) {
    std::optional<std::string> name = storedLocationName();
    if (!name || name->empty()) return std::nullopt;
    return name;
  }
  std::optional<IpPlace> place =
      lookUpShowingStatus("Looking up your location\u2026", [&] { return lookups.approximatePlace(); });
  if (!place) return promptForCity("", lookups.geocode);

  std::string label = place->region.empty() ? place->city : place->city + ", " + place->region;
  if (dialogBackend().runModal(ipPlaceAlert(*place, label)).response == kFirstButtonResponse) {
    if (!storeLocationOrReport(place->lat, place->lon, label)) return std::nullopt;
    return label;
  }
  return promptForCity(place->city, lookups.geocode);
}

std::optional<std::string> runLocationSetup() { return runLocationSetup(LocationLookups{}); }

}  // namespace zeph
