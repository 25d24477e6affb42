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

}  // namespace

bool askForCity(const std::string& prefill, const GeocodeFunction& geocode) {
  std::string text = prefill;
  for (;;) {
    AlertResult answer = dialogBackend().runModal(cityPrompt(text));
    if (answer.response != kFirstButtonResponse) return false;
    std::string city(trimUnicode(answer.fieldText, TrimmedSet::WhitespacesAndNewlines));
    if (city.empty()) return false;
    std::optional<Place> place =
        lookUpShowingStatus("Looking up \u201C" + city + "\u201D\u2026", [&] { return geocode(city); });
    if (place) {
      return storeLocationOrReport(place->lat, place->lon, place->name);
    }
    if (dialogBackend().runModal(notFoundAlert(city)).response != kFirstButtonResponse) return false;
    text = city;
  }
}

bool askForCity(const std::string& prefill) { return askForCity(prefill, zeph::geocode); }

}  // namespace zeph
