#include "location/geocode.h"

#include <gtest/gtest.h>

#include "location/geocode_internal.h"
#include "support/http_server.h"

namespace zeph {
namespace {

using detail::coordinateShortcut;
using detail::placeFromSearchReply;
using nlohmann::json;

json hit(json lat, json lon) { return json::array({json{{"lat", std::move(lat)}, {"lon", std::move(lon)}}}); }

json hitNamed(std::optional<std::string> name, std::optional<std::string> displayName) {
  json h = {{"lat", "52.52"}, {"lon", "13.405"}};
  if (name) h["name"] = *name;
  if (displayName) h["display_name"] = *displayName;
  return json::array({h});
}

TEST(CoordinateShortcut, TakesTypedCoordinatesWithoutARequest) {
  // No server exists: a request would give none.
  const std::string unreachable = "http://127.0.0.1:9/search";
  std::optional<Place> berlin = detail::geocodeWith(unreachable, "52.52, 13.405").place;
  ASSERT_TRUE(berlin);
  EXPECT_EQ(berlin->lat, 52.52);
  EXPECT_EQ(berlin->lon, 13.405);
  EXPECT_EQ(berlin->name, "52.52, 13.405");

  std::optional<Place> capeTown = coordinateShortcut("-33.9,18.4");
  ASSERT_TRUE(capeTown);
  EXPECT_EQ(capeTown->lat, -33.9);
  EXPECT_EQ(capeTown->lon, 18.4);
  EXPECT_EQ(capeTown->name, "-33.9,18.4");

  // Unicode spaces, empty pieces, signs, bounds and hex floats.
  EXPECT_TRUE(
      coordinateShortcut("\xE3\x80\x80"
                         "90 ,\xC2\xA0-180\t"));
  EXPECT_TRUE(coordinateShortcut(",1,,2,"));
  EXPECT_TRUE(coordinateShortcut("+1e1, 0x10"));
  EXPECT_EQ(coordinateShortcut("\t1 , 2 ")->name, "\t1 , 2 ");
}

TEST(CoordinateShortcut, LeavesEverythingElseToTheSearch) {
  const char* queries[] = {"95, 10", "10, 181", "1, 2, 3", "Berlin, Germany", "1, , 2",        "52.52", "1;2",
                           "1\n, 2", "nan, 1",  "inf, 1",  "1 2, 3",          "52,52, 13,405", ""};
  for (const char* q : queries) EXPECT_FALSE(coordinateShortcut(q)) << q;
}

TEST(GeocodeSearch, SendsTheQueryUnchangedAsTheFirstOfThreeItems) {
  test_support::LoopbackHttpServer server(test_support::jsonReply("[]"));
  const std::string query = "Saint-Jean & Co #1 + =100% é/?";
  EXPECT_FALSE(detail::geocodeWith(server.origin() + "/search", query).place);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(test_support::parseRequestHead(server.requests()[0]).requestLine,
            "GET /search?q=Saint-Jean%20%26%20Co%20%231%20%2B%20%3D100%25%20%C3%A9%2F%3F"
            "&format=jsonv2&limit=1 HTTP/1.1");
  EXPECT_EQ(detail::searchRequestUrl("https://h/search", "a~b_c.d-e"),
            "https://h/search?q=a~b_c.d-e&format=jsonv2&limit=1");
}

TEST(GeocodeSearch, ReadsTheFirstHitOfTheReply) {
  test_support::LoopbackHttpServer server(
      test_support::jsonReply(R"([{"lat":"48.1371079","lon":"11.5753822","name":"München",)"
                              R"("display_name":"München, Bayern, Deutschland"},{"lat":"0","lon":"0"}])"));
  std::optional<Place> place = detail::geocodeWith(server.origin() + "/search", "Munich").place;
  ASSERT_TRUE(place);
  EXPECT_EQ(place->lat, 48.1371079);
  EXPECT_EQ(place->lon, 11.5753822);
  EXPECT_EQ(place->name, "München, Bayern");
}

TEST(GeocodeSearch, ReplyMustBeANonEmptyArrayOfObjectsWithCoordinateTextsInRange) {
  json mixed = hit("1", "2");
  mixed.push_back(3);
  json second = hit("1", "2");
  second.push_back(json::object());  // an object without members is still an object
  for (const json& r : {hit("90", "-180"), hit("-90.0", "+180"), second})
    EXPECT_TRUE(placeFromSearchReply(r, "q")) << r;
  const json refused[] = {json::array(),
                          json{{"lat", "1"}, {"lon", "2"}},
                          mixed,
                          hit("90.0001", "0"),
                          hit("0", "180.0001"),
                          hit(52.52, "13.4"),
                          hit("52.52", 13.4),  // a JSON number does not count
                          hit(" 52.52", "13.4"),
                          hit("52.52 ", "13.4"),
                          hit("", "13.4"),
                          hit("nan", "0"),
                          hit("0", "-inf"),
                          json::array({json{{"lon", "1"}}}),
                          json::array({json{{"lat", "1"}}})};
  for (const json& r : refused) EXPECT_FALSE(placeFromSearchReply(r, "q")) << r;
}

TEST(GeocodeSearch, NameIsQualifiedByTheSecondToLastAddressPart) {
  auto name = [](std::optional<std::string> n, std::optional<std::string> d,
                 const std::string& query = "typed") {
    return placeFromSearchReply(hitNamed(std::move(n), std::move(d)), query)->name;
  };
  EXPECT_EQ(name("P1", "P1, P2, P3, P4"), "P1, P3");
  EXPECT_EQ(name("Paris", "Paris, France"), "Paris");  // two parts
  EXPECT_EQ(name("P3", "P1, P2, P3, P4"), "P3");       // equal to the name
  EXPECT_EQ(name(std::nullopt, "P1, P2, P3, P4", "Springfield"), "Springfield, P3");
  EXPECT_EQ(name(std::nullopt, std::nullopt, "Springfield"), "Springfield");
  EXPECT_EQ(name("", "A, B, C", "Springfield"), "Springfield, B");  // an empty name takes the query
  EXPECT_EQ(name("", std::nullopt, "Springfield"), "Springfield");
  EXPECT_EQ(name("A", "A, , C"), "A, ");  // empty parts are kept
  EXPECT_EQ(name("A", "A,B,C"), "A");     // only ", " separates
  EXPECT_EQ(name("A", "X, A, Y"), "A");
  EXPECT_EQ(name("A", "X, a, Y"), "A, a");  // compared exactly

  // A "name" or "display_name" of another kind is as good as absent.
  json h = hitNamed(std::nullopt, std::nullopt);
  h[0]["name"] = 12;
  h[0]["display_name"] = json::array({"x", "y", "z"});
  EXPECT_EQ(placeFromSearchReply(h, "typed")->name, "typed");
}

TEST(GeocodeSearch, SaysWhetherThePlaceIsUnknownOrTheSearchDidNotAnswer) {
  struct Case {
    const char* what;
    test_support::ScriptedReply reply;
    LookupFailure failure;
  };
  const Case cases[] = {
      {"no hits", test_support::jsonReply("[]"), LookupFailure::NoSuchPlace},
      {"no hits, server error", test_support::jsonReply("[]", 500), LookupFailure::NoAnswer},
      {"a hit, HTTP error", test_support::jsonReply(R"([{"lat":"1","lon":"2"}])", 404),
       LookupFailure::NoAnswer},
      {"empty body", test_support::jsonReply(""), LookupFailure::NoAnswer},
      {"not an array", test_support::jsonReply("{}"), LookupFailure::NoAnswer},
      {"a hit out of range", test_support::jsonReply(R"([{"lat":"91","lon":"2"}])"), LookupFailure::NoAnswer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test_support::LoopbackHttpServer server(c.reply);
    GeocodeResult result = detail::geocodeWith(server.origin() + "/search", "Oslo");
    EXPECT_FALSE(result.place);
    EXPECT_EQ(result.failure, c.failure);
  }
  EXPECT_EQ(detail::geocodeWith("http://127.0.0.1:9/search", "Oslo").failure, LookupFailure::NoAnswer);
}

}  // namespace
}  // namespace zeph
