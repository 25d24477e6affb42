#include "location/location_setup.h"

#include <chrono>
#include <thread>

#include "dialog/dialog.h"
#include "dialog/wait_status.h"
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

// How long the word that the guess failed stays before the prompt covers it.
constexpr std::chrono::milliseconds kNoteTime{1500};
constexpr std::chrono::milliseconds kNoteSlice{50};

// Says on the status that the location could not be guessed, long enough to
// be read; Esc goes on at once.
void sayTheGuessFailed() {
  WaitStatus note("Couldn't guess your location \u2014 type a city", WaitKind::MustFinish);
  const auto end = std::chrono::steady_clock::now() + kNoteTime;
  while (std::chrono::steady_clock::now() < end && note.keepWaiting())
    std::this_thread::sleep_for(kNoteSlice);
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
  LookupOutcome<std::optional<IpPlace>> lookup =
      lookUpShowingStatus("Looking up your location\u2026", [&] { return lookups.approximatePlace(); });
  const std::optional<IpPlace>& place = lookup.result;
  if (!place) {
    if (!lookup.cancelled) sayTheGuessFailed();
    return promptForCity("", lookups.geocode);
  }

  // "São Paulo, São Paulo" says the city twice.
  const bool regionAddsNothing = place->region.empty() || place->region == place->city;
  std::string label = regionAddsNothing ? place->city : place->city + ", " + place->region;
  if (dialogBackend().runModal(ipPlaceAlert(*place, label)).response == kFirstButtonResponse) {
    if (!storeLocationOrReport(place->lat, place->lon, label)) return std::nullopt;
    return label;
  }
  return promptForCity(place->city, lookups.geocode);
}

std::optional<std::string> runLocationSetup() { return runLocationSetup(LocationLookups{}); }

}  // namespace zeph
