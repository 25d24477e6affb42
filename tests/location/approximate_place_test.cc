#include "location/approximate_place.h"

#include <gtest/gtest.h>

#include <limits>

#include "location/approximate_place_internal.h"
#include "support/http_server.h"

namespace zeph {
namespace {

using detail::placeFromReply;
using nlohmann::json;

json reply(json latitude, json longitude, json city = "Berlin") {
  return {{"latitude", std::move(latitude)}, {"longitude", std::move(longitude)}, {"city", std::move(city)}};
}

TEST(ApproximatePlace, AsksTheServiceForFourFieldsAndReadsItsReply) {
  test_support::LoopbackHttpServer server(test_support::jsonReply(
      R"({"success":true,"region":"Berlin State","city":"Berlin","longitude":13.405,"latitude":52.52})"));
  std::optional<IpPlace> place = detail::approximatePlaceFrom(server.origin() + "/");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(test_support::parseRequestHead(server.requests()[0]).requestLine,
            "GET /?fields=latitude,longitude,city,region HTTP/1.1");
  ASSERT_TRUE(place);
  EXPECT_EQ(place->lat, 52.52);
  EXPECT_EQ(place->lon, 13.405);
  EXPECT_EQ(place->city, "Berlin");
  EXPECT_EQ(place->region, "Berlin State");
}

TEST(ApproximatePlace, ServiceErrorOrNoReplyGivesNone) {
  test_support::LoopbackHttpServer refused(
      test_support::jsonReply(R"({"success":false,"message":"rate limited"})", 429));
  EXPECT_FALSE(detail::approximatePlaceFrom(refused.origin() + "/"));
  test_support::LoopbackHttpServer notJson(test_support::jsonReply("<html>busy</html>"));
  EXPECT_FALSE(detail::approximatePlaceFrom(notJson.origin() + "/"));
}

TEST(ApproximatePlace, ReplyMustBeAnObjectWithCoordinatesInRangeAndACity) {
  // Coordinates are JSON numbers (integers count) within their bounds.
  for (const json& r : {reply(52, 13), reply(90, -180), reply(-90.0, 180.0), reply(0u, 0u)}) {
    EXPECT_TRUE(placeFromReply(r)) << r;
  }
  const json refused[] = {
      reply(90.0001, 0), reply(0, 180.0001), reply(std::numeric_limits<double>::infinity(), 0),
      reply("52.52", 13), reply(52, "13"), reply(nullptr, 13), reply(true, 13),
      json{{"longitude", 13}, {"city", "Berlin"}}, json{{"latitude", 13}, {"city", "Berlin"}},
      // The city must be a non-empty string.
      reply(1, 2, ""), reply(1, 2, 7), reply(1, 2, nullptr), json{{"latitude", 1}, {"longitude", 2}},
      // Only an object is read.
      json::array({reply(1, 2)}), json::object(), json{{"success", false}, {"message", "Reserved range"}}};
  for (const json& r : refused) EXPECT_FALSE(placeFromReply(r)) << r;
  // A city is taken as it is, spaces and all.
  EXPECT_EQ(placeFromReply(reply(1, 2, " ")).value_or(IpPlace{}).city, " ");
  EXPECT_EQ(placeFromReply(reply(1, 2, " São Paulo\t")).value_or(IpPlace{}).city, " São Paulo\t");
}

TEST(ApproximatePlace, RegionIsEmptyUnlessAString) {
  for (json region : {json(nullptr), json(5), json(""), json::array(), json(false)}) {
    json r = reply(1, 2);
    r["region"] = region;
    std::optional<IpPlace> place = placeFromReply(r);
    ASSERT_TRUE(place) << region;
    EXPECT_EQ(place->region, "") << region;
  }
  std::optional<IpPlace> missing = placeFromReply(reply(1, 2));
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->region, "");
}

}  // namespace
}  // namespace zeph
