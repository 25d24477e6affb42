#include "location/city_prompt.h"

#include <cstddef>
#include <string_view>

#include "location/saver_preferences.h"
#include "platform/dialog.h"

namespace zeph {

namespace {

// Unicode white space and line breaks, as the platform's
// whitespacesAndNewlines set holds them.
bool isWhitespaceOrNewline(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// Length in bytes of the UTF-8 sequence that starts with `lead`; 1 for a stray byte.
std::size_t sequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

// The code point of the well-formed sequence at s[i, i + n), or U+FFFD.
char32_t decodeAt(std::string_view s, std::size_t i, std::size_t n) {
  if (i + n > s.size()) return 0xFFFD;
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
  if (n == 1) return byte(0) < 0x80 ? byte(0) : 0xFFFD;
  char32_t c = byte(0) & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return 0xFFFD;
    c = (c << 6) | (byte(k) & 0x3F);
  }
  return c;
}

std::string trimWhitespaceAndNewlines(std::string_view s) {
  std::size_t begin = 0;
  while (begin < s.size()) {
    std::size_t n = sequenceLength(static_cast<unsigned char>(s[begin]));
    if (!isWhitespaceOrNewline(decodeAt(s, begin, n))) break;
    begin += n;
  }
  // Walk forward to find where the trailing run of white space starts; UTF-8
  // cannot be decoded reliably from the back when bytes are malformed.
  std::size_t end = begin;
  for (std::size_t i = begin; i < s.size();) {
    std::size_t n = sequenceLength(static_cast<unsigned char>(s[i]));
    if (i + n > s.size()) n = s.size() - i;
    i += n;
    if (!isWhitespaceOrNewline(decodeAt(s, i - n, n))) end = i;
  }
  return std::string(s.substr(begin, end - begin));
}

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
    std::string city = trimWhitespaceAndNewlines(answer.fieldText);
    if (city.empty()) return false;
    if (std::optional<Place> place = geocode(city)) {
      storeLocation(place->lat, place->lon, place->name);
      return true;
    }
    if (dialogBackend().runModal(notFoundAlert(city)).response != kFirstButtonResponse) return false;
    text = city;
  }
}

bool askForCity(const std::string& prefill) { return askForCity(prefill, zeph::geocode); }

}  // namespace zeph
