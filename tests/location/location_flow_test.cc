// The city prompt and the location setup flow, answered by a scripted dialog,
// with the web lookups on loopback servers.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "base/process_values.h"
#include "location/approximate_place_internal.h"
#include "location/city_prompt.h"
#include "location/geocode_internal.h"
#include "location/location_setup.h"
#include "location/saver_preferences.h"
#include "platform/preferences.h"
#include "support/http_server.h"
#include "support/sandbox.h"
#include "support/scripted_dialog.h"
#include "support/throwaway_suite.h"

namespace zeph {
namespace {

using test_support::LoopbackHttpServer;
using test_support::press;
using test_support::ScriptedDialog;
using test_support::ScriptedReply;
using test_support::typeAndConfirm;

constexpr const char* kPromptMessage = "Which city's weather should zeph show?";
constexpr const char* kOsloReply = R"({"latitude":59.91,"longitude":10.75,"city":"Oslo"})";
constexpr const char* kPortlandReply =
    R"({"latitude":45.52,"longitude":-122.68,"city":"Portland","region":"Oregon"})";

class LocationFlowTest : public ::testing::Test {
 protected:
  void SetUp() override { setProcessValues(home_.path().string(), false); }

  static std::optional<plist::Value> stored(const std::string& key) {
    return preferenceValue(prefsSuite, key);
  }

  // A geocoder whose every call fails the test: the flow must not search.
  static GeocodeResult noSearch(const std::string& query) {
    ADD_FAILURE() << "unexpected search for " << query;
    return {};
  }

  // A file where the preferences folder belongs: every save fails, as root too.
  void makePreferencesUnwritable() { test_support::writeBytes(home_.path() / "Library/Preferences", {'x'}); }

  // The one line a failed save prints.
  std::string saveFailureLine() const {
    return "error: couldn't save the city: mkdir(" + (home_.path() / "Library/Preferences").string() +
           "): File exists\n";
  }

  test_support::Sandbox home_;
  test_support::ThrowAwaySuite suite_;
};

using CityPrompt = LocationFlowTest;

TEST_F(CityPrompt, ShowsThePromptAndSkipStoresNothing) {
  ScriptedDialog dialog({press(1)});
  EXPECT_FALSE(askForCity("Oslo", noSearch));

  ASSERT_EQ(dialog.shown().size(), 1u);
  const Alert& prompt = dialog.shown()[0];
  EXPECT_EQ(prompt.messageText, kPromptMessage);
  EXPECT_EQ(prompt.informativeText,
            "Type a city \u2014 \u201CPortland, Maine\u201D or \u201COslo\u201D. You can change it later "
            "in zeph's settings.");
  EXPECT_EQ(prompt.buttons, (std::vector<std::string>{"Use this city", "Skip"}));
  ASSERT_TRUE(prompt.field);
  EXPECT_EQ(prompt.field->placeholder, "City name");
  EXPECT_EQ(prompt.field->text, "Oslo");
  EXPECT_EQ(prompt.field->width, 260);
  EXPECT_EQ(prompt.field->height, 24);
  EXPECT_FALSE(stored("manualLatitude"));
}

TEST_F(CityPrompt, BlankFieldEndsWithoutAskingAgain) {
  // Spaces, tabs, line breaks, a no-break space and an ideographic space.
  for (const char* blank : {"", "  \n\t \r\n", "\u00A0\u3000 "}) {
    ScriptedDialog dialog({typeAndConfirm(blank)});
    EXPECT_FALSE(askForCity("", noSearch)) << blank;
    EXPECT_EQ(dialog.shown().size(), 1u);
  }
  EXPECT_FALSE(stored("manualLatitude"));
}

TEST_F(CityPrompt, TypedCoordinatesAreStoredUnderTheTrimmedText) {
  ScriptedDialog dialog({typeAndConfirm(" \t52.52, 13.405\n ")});
  // The real geocoder: coordinates never reach the network.
  EXPECT_TRUE(askForCity(""));
  EXPECT_EQ(stored("manualLatitude"), plist::Value::real(52.52));
  EXPECT_EQ(stored("manualLongitude"), plist::Value::real(13.405));
  EXPECT_EQ(storedLocationName(), "52.52, 13.405");
  EXPECT_EQ(stored("locationSetupAsked"), plist::Value::boolean(true));
}

TEST_F(CityPrompt, NotFoundThenTryAgainKeepsTheTrimmedText) {
  LoopbackHttpServer nominatim(
      std::vector<ScriptedReply>{{.body = "[]"}, {.body = R"([{"lat":"43.66","lon":"-70.26","name":"Portland",
                    "display_name":"Portland, Cumberland County, Maine, United States"}])"}});
  std::string search = nominatim.origin() + "/search";
  auto geocode = [&](const std::string& q) { return detail::geocodeWith(search, q); };

  ScriptedDialog dialog({typeAndConfirm("  Portlnd \n"), press(0), typeAndConfirm("Portland")});
  EXPECT_TRUE(askForCity("", geocode));

  ASSERT_EQ(dialog.shown().size(), 3u);
  const Alert& notFound = dialog.shown()[1];
  EXPECT_EQ(notFound.messageText, "Couldn't find \u201CPortlnd\u201D");
  EXPECT_EQ(notFound.informativeText, "Try a nearby larger city, or add the state or country.");
  EXPECT_EQ(notFound.buttons, (std::vector<std::string>{"Try again", "Skip"}));
  EXPECT_FALSE(notFound.field);
  ASSERT_TRUE(dialog.shown()[2].field);
  EXPECT_EQ(dialog.shown()[2].field->text, "Portlnd");

  std::vector<std::string> requests = nominatim.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].find("q=Portlnd&"), std::string::npos) << requests[0];
  // The name the geocoder formed, not the typed text.
  EXPECT_EQ(storedLocationName(), "Portland, Maine");
  EXPECT_EQ(stored("manualLongitude"), plist::Value::real(-70.26));
}

TEST_F(CityPrompt, NotFoundThenSkipStoresNothing) {
  int searches = 0;
  auto notFound = [&](const std::string&) {
    ++searches;
    return GeocodeResult{std::nullopt, LookupFailure::NoSuchPlace};
  };
  ScriptedDialog dialog({typeAndConfirm("Atlantis"), press(1)});
  EXPECT_FALSE(askForCity("", notFound));
  EXPECT_EQ(searches, 1);
  EXPECT_EQ(dialog.shown().size(), 2u);
  EXPECT_FALSE(stored("manualLatitude"));
}

using LocationSetup = LocationFlowTest;

// Lookups that fail the test when called: a configured location asks nothing.
LocationLookups noLookups() {
  return {.approximatePlace =
              [] {
                ADD_FAILURE() << "unexpected IP lookup";
                return std::optional<IpPlace>();
              },
          .geocode =
              [](const std::string& q) {
                ADD_FAILURE() << "unexpected search for " << q;
                return GeocodeResult();
              }};
}

LocationLookups ipFrom(const LoopbackHttpServer& server) {
  std::string base = server.origin() + "/";
  return {.approximatePlace = [base] { return detail::approximatePlaceFrom(base); },
          .geocode = [](const std::string& q) { return GeocodeResult{detail::coordinateShortcut(q)}; }};
}

TEST_F(LocationSetup, ConfiguredLocationIsReportedWithoutAskingByItsNameIfAny) {
  ScriptedDialog dialog({});
  applyPreferenceChange(prefsSuite,
                        {.set = {{"useIpLocationFallback", plist::Value::boolean(true)}}, .remove = {}});
  EXPECT_EQ(runLocationSetup(noLookups()), std::nullopt);
  applyPreferenceChange(prefsSuite, {.set = {{"manualLatitude", plist::Value::integer(0)},
                                             {"manualLocationName", plist::Value("")}},
                                     .remove = {}});
  EXPECT_EQ(runLocationSetup(noLookups()), std::nullopt);
  storeLocation(59.91, 10.75, "Oslo");
  EXPECT_EQ(runLocationSetup(noLookups()), "Oslo");
  EXPECT_TRUE(dialog.shown().empty());
}

TEST_F(LocationSetup, AcceptedIpPlaceStoresCityAndRegion) {
  LoopbackHttpServer ipService(ScriptedReply{.body = kPortlandReply});
  ScriptedDialog dialog({press(0)});
  EXPECT_EQ(runLocationSetup(ipFrom(ipService)), "Portland, Oregon");

  ASSERT_EQ(dialog.shown().size(), 1u);
  const Alert& offer = dialog.shown()[0];
  EXPECT_EQ(offer.messageText, "Show weather for Portland?");
  EXPECT_EQ(offer.informativeText,
            "Your internet connection looks like it's near Portland, Oregon. zeph will use that for the "
            "temperature \u2014 you can change it anytime in zeph's settings.");
  EXPECT_EQ(offer.buttons, (std::vector<std::string>{"Use Portland", "Pick a different city"}));
  EXPECT_FALSE(offer.field);
  EXPECT_EQ(storedLocationName(), "Portland, Oregon");
  EXPECT_EQ(stored("manualLatitude"), plist::Value::real(45.52));
  EXPECT_EQ(stored("manualLongitude"), plist::Value::real(-122.68));
}

TEST_F(LocationSetup, AcceptedIpPlaceWithoutRegionIsTheCityAlone) {
  LoopbackHttpServer ipService(ScriptedReply{.body = kOsloReply});
  ScriptedDialog dialog({press(0)});
  EXPECT_EQ(runLocationSetup(ipFrom(ipService)), "Oslo");
  ASSERT_EQ(dialog.shown().size(), 1u);
  EXPECT_NE(dialog.shown()[0].informativeText.find("near Oslo. zeph"), std::string::npos);
  EXPECT_EQ(storedLocationName(), "Oslo");
}

TEST_F(LocationSetup, DeclinedIpPlaceOffersThePromptWithTheCityAlone) {
  LoopbackHttpServer ipService(ScriptedReply{.body = kPortlandReply});
  ScriptedDialog dialog({press(1), press(1)});
  EXPECT_EQ(runLocationSetup(ipFrom(ipService)), std::nullopt);

  ASSERT_EQ(dialog.shown().size(), 2u);
  EXPECT_EQ(dialog.shown()[1].messageText, kPromptMessage);
  ASSERT_TRUE(dialog.shown()[1].field);
  EXPECT_EQ(dialog.shown()[1].field->text, "Portland");
  // A declined place is not stored.
  EXPECT_FALSE(stored("manualLatitude"));
  EXPECT_FALSE(stored("manualLocationName"));
}

TEST_F(LocationSetup, FailedIpLookupOpensAnEmptyPrompt) {
  LoopbackHttpServer ipService(ScriptedReply{.status = 429, .body = R"({"error":"rate limited"})"});
  ScriptedDialog dialog({typeAndConfirm("-33.9,18.4")});
  EXPECT_EQ(runLocationSetup(ipFrom(ipService)), "-33.9,18.4");

  ASSERT_EQ(dialog.shown().size(), 1u);
  EXPECT_EQ(dialog.shown()[0].messageText, kPromptMessage);
  ASSERT_TRUE(dialog.shown()[0].field);
  EXPECT_EQ(dialog.shown()[0].field->text, "");
  EXPECT_EQ(stored("manualLatitude"), plist::Value::real(-33.9));
}

TEST_F(LocationSetup, SkippedPromptAfterFailedLookupReportsNone) {
  LoopbackHttpServer ipService(ScriptedReply{.body = "[]"});
  ScriptedDialog dialog({press(1)});
  EXPECT_EQ(runLocationSetup(ipFrom(ipService)), std::nullopt);
  EXPECT_EQ(dialog.shown().size(), 1u);
  EXPECT_FALSE(stored("manualLatitude"));
}

TEST_F(LocationSetup, PlaceThatCannotBeSavedIsReportedAsAnErrorNeverAsFound) {
#ifdef __APPLE__
  GTEST_SKIP() << "CFPreferences ignores HOME, so a file in the home cannot make the save fail on Apple";
#endif
  makePreferencesUnwritable();
  const IpPlace oslo{.lat = 59.91, .lon = 10.75, .city = "Oslo", .region = ""};
  LocationLookups lookups{
      .approximatePlace = [&] { return std::optional<IpPlace>(oslo); },
      .geocode = [](const std::string& q) { return GeocodeResult{detail::coordinateShortcut(q)}; }};
  auto setup = [&] { return runLocationSetup(lookups).has_value(); };
  struct Case {
    const char* what;
    std::vector<test_support::ScriptedAnswer> answers;
    std::function<bool()> reportsAPlace;
    std::size_t alerts;  // no "not found" alert: the place was found, only the save failed
  };
  const Case cases[] = {
      {"city typed at the prompt", {typeAndConfirm("52.52, 13.405")}, [] { return askForCity(""); }, 1},
      {"accepted IP place", {press(0)}, setup, 1},
      {"declined IP place, typed city", {press(1), typeAndConfirm("59.9, 10.7")}, setup, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedDialog dialog(c.answers);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(c.reportsAPlace());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), saveFailureLine());
    EXPECT_EQ(dialog.shown().size(), c.alerts);
  }
  EXPECT_FALSE(hasLocationConfigured());
  EXPECT_FALSE(storedLocationName());
}

using LookupStatus = LocationFlowTest;

TEST_F(LookupStatus, EachLookupSaysWhatItWaitsFor) {
  LoopbackHttpServer ipService(ScriptedReply{.body = kOsloReply});
  ScriptedDialog dialog({press(1), typeAndConfirm("  52.52, 13.405 ")});
  LocationLookups lookups = ipFrom(ipService);
  EXPECT_EQ(runLocationSetup(lookups), "52.52, 13.405");
  // Each can be called off (a Cancel button on the Mac).
  EXPECT_EQ(dialog.events(),
            (std::vector<std::string>{
                "cancellable status: Looking up your location\u2026 \u2014 Esc to skip",
                "alert: Show weather for Oslo?", "alert: " + std::string(kPromptMessage),
                "cancellable status: Looking up \u201C52.52, 13.405\u201D\u2026 \u2014 Esc to skip"}));
}

TEST_F(LookupStatus, EscDuringAHangingLookupGoesBackToThePromptWithTheText) {
  // A service that never answers would hold the prompt for ten seconds.
  ScriptedReply silence;
  silence.neverAnswer = true;
  LoopbackHttpServer search(silence);
  ScriptedDialog dialog({typeAndConfirm(" Oslo "), press(1)});
  dialog.pressEscDuringWaits();
  const std::string url = search.origin() + "/search";
  auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(askForCity("", [&](const std::string& q) { return detail::geocodeWith(url, q); }));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  EXPECT_GE(dialog.waitChecks(), 1);
  // No alert about the search: the prompt again, with the trimmed text.
  ASSERT_EQ(dialog.shown().size(), 2u);
  EXPECT_EQ(dialog.shown()[1].messageText, kPromptMessage);
  ASSERT_TRUE(dialog.shown()[1].field);
  EXPECT_EQ(dialog.shown()[1].field->text, "Oslo");
  EXPECT_EQ(dialog.statuses().front(), "Looking up \u201COslo\u201D\u2026 \u2014 Esc to skip");
  EXPECT_FALSE(stored("manualLatitude"));
}

TEST_F(CityPrompt, NoPlaceAndNoAnswerHaveAlertsOfTheirOwn) {
  const std::string notFound = "Couldn't find \u201COslo\u201D";
  const std::string noAnswer = "Couldn't reach the city search";
  struct Case {
    const char* what;
    ScriptedReply reply;
    std::string message;
  };
  const Case cases[] = {
      {"no hits", test_support::jsonReply("[]"), notFound},
      {"service unavailable", test_support::jsonReply("[]", 503), noAnswer},
      {"error page as JSON", test_support::jsonReply(R"({"error":"rate limited"})", 429), noAnswer},
      {"not JSON", test_support::jsonReply("<html>busy</html>"), noAnswer},
      {"an object, not a list", test_support::jsonReply(R"({"error":"x"})"), noAnswer},
      {"a hit without coordinates", test_support::jsonReply(R"([{"name":"Oslo"}])"), noAnswer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LoopbackHttpServer search(c.reply);
    const std::string url = search.origin() + "/search";
    ScriptedDialog dialog({typeAndConfirm("Oslo "), press(0), press(1)});
    EXPECT_FALSE(askForCity("", [&](const std::string& q) { return detail::geocodeWith(url, q); }));
    ASSERT_EQ(dialog.shown().size(), 3u);
    const Alert& failed = dialog.shown()[1];
    EXPECT_EQ(failed.messageText, c.message);
    EXPECT_EQ(failed.buttons, (std::vector<std::string>{"Try again", "Skip"}));
    if (c.message == noAnswer) {
      EXPECT_EQ(failed.informativeText,
                "Check your internet connection, then try again. You can also skip this and add a city later "
                "in System Settings \u2192 Screen Saver \u2192 zeph\u00B0 \u2192 Options.");
    }
    // "Try again": the prompt with the typed text.
    ASSERT_TRUE(dialog.shown()[2].field);
    EXPECT_EQ(dialog.shown()[2].field->text, "Oslo");
  }
  // Nobody listening at all.
  ScriptedDialog dialog({typeAndConfirm("Oslo"), press(1)});
  EXPECT_FALSE(
      askForCity("", [](const std::string& q) { return detail::geocodeWith("http://127.0.0.1:9/s", q); }));
  ASSERT_EQ(dialog.shown().size(), 2u);
  EXPECT_EQ(dialog.shown()[1].messageText, noAnswer);
  EXPECT_FALSE(stored("manualLatitude"));
}

TEST_F(LookupStatus, AFailedGuessSaysSoBeforeThePromptButEscSaysNothing) {
  const std::string guessFailed = "status: Couldn't guess your location \u2014 type a city";
  const std::string lookingUp = "cancellable status: Looking up your location\u2026 \u2014 Esc to skip";
  {
    LoopbackHttpServer ipService(test_support::jsonReply("{}", 500));
    ScriptedDialog dialog({press(1)});
    EXPECT_EQ(runLocationSetup(ipFrom(ipService)), std::nullopt);
    EXPECT_EQ(dialog.events(),
              (std::vector<std::string>{lookingUp, guessFailed, "alert: " + std::string(kPromptMessage)}));
  }
  {
    ScriptedReply silence;
    silence.neverAnswer = true;
    LoopbackHttpServer ipService(silence);
    ScriptedDialog dialog({press(1)});
    dialog.pressEscDuringWaits();
    EXPECT_EQ(runLocationSetup(ipFrom(ipService)), std::nullopt);
    EXPECT_EQ(dialog.events(),
              (std::vector<std::string>{lookingUp, "alert: " + std::string(kPromptMessage)}));
  }
}

TEST_F(LocationSetup, ARegionThatRepeatsTheCityIsLeftOut) {
  LoopbackHttpServer ipService(test_support::jsonReply(
      R"({"latitude":-23.55,"longitude":-46.63,"city":"São Paulo","region":"São Paulo"})"));
  ScriptedDialog dialog({press(0)});
  EXPECT_EQ(runLocationSetup(ipFrom(ipService)), "São Paulo");
  ASSERT_EQ(dialog.shown().size(), 1u);
  EXPECT_NE(dialog.shown()[0].informativeText.find("near São Paulo. zeph"), std::string::npos)
      << dialog.shown()[0].informativeText;
  EXPECT_EQ(storedLocationName(), "São Paulo");
}

TEST_F(LookupStatus, WaitChecksDoNotCutAnAnsweringLookupShort) {
  LoopbackHttpServer ipService(test_support::delayedReply(kOsloReply, std::chrono::milliseconds(300)));
  ScriptedDialog dialog({press(0)});
  EXPECT_EQ(runLocationSetup(ipFrom(ipService)), "Oslo");
  EXPECT_GE(dialog.waitChecks(), 2);  // looked at the keyboard while it waited
}

}  // namespace
}  // namespace zeph
