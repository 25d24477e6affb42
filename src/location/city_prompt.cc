#include "location/city_prompt.h"

#include <string>

#include "dialog/dialog.h"
#include "location/lookup_status.h"
#include "location/saver_preferences.h"
#include "text/unicode_trim.h"

namespace zeph {

namespace {

Alert cityPrompt(const std::string& prefill) {
  Alert alert;
  alert.messageText = "Which city's weather should zeph show?";
  alert.informativeText =
      "Type a city \u2014 \u201CPortland, Maine\u201D or \u201COslo\u201D. You can change it later in "
      "zeph's settings.";
  alert.buttons = {"Use this city", "Skip"};
  alert.field = AlertField{.placeholder = "City name", .text = prefill};
  return alert;
}

Alert notFoundAlert(const std::string& city) {
  Alert alert;
  alert.messageText = "Couldn't find \u201C" + city + "\u201D";
  alert.informativeText = "Try a nearby larger city, or add the state or country.";
  alert.buttons = {"Try again", "Skip"};
  return alert;
}

Alert noAnswerAlert() {
  Alert alert;
  alert.messageText = "Couldn't reach the city search";
  alert.informativeText =
      "Check your internet connection, then try again. You can also skip this and add a city later in System "
      "Settings \u2192 Screen Saver \u2192 zeph\u00B0 \u2192 Options.";
  alert.buttons = {"Try again", "Skip"};
  return alert;
}

}  // namespace

bool askForCity(const std::string& prefill, const GeocodeFunction& geocode) {
  std::string text = prefill;
  for (;;) {
    AlertResult answer = dialogBackend().runModal(cityPrompt(text));
    if (answer.response != kFirstButtonResponse) return false;
    std::string city(trimUnicode(answer.fieldText, TrimmedSet::WhitespacesAndNewlines));
    if (city.empty()) return false;
    LookupOutcome<GeocodeResult> lookup =
        lookUpShowingStatus("Looking up \u201C" + city + "\u201D\u2026", [&] { return geocode(city); });
    text = city;
    if (lookup.result.place) {
      const Place& place = *lookup.result.place;
      return storeLocationOrReport(place.lat, place.lon, place.name);
    }
    if (lookup.cancelled) continue;  // back to the prompt, the text kept
    Alert failed =
        lookup.result.failure == LookupFailure::NoSuchPlace ? notFoundAlert(city) : noAnswerAlert();
    if (dialogBackend().runModal(failed).response != kFirstButtonResponse) return false;
  }
}

bool askForCity(const std::string& prefill) { return askForCity(prefill, geocodeWithReason); }

}  // namespace zeph
