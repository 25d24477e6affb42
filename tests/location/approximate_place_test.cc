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
  testing::LoopbackHttpServer server(testing::jsonReply(
      R"({"success":true,"region":"Berlin State","city":"Berlin","longitude":13.405,"latitude":52.52})"));
  std::optional<IpPlace> place = detail::approximatePlaceFrom(server.origin() + "/");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(testing::parseRequestHead(server.requests()[0]).requestLine,
            "GET /?fields=latitude,longitude,city,region HTTP/1.1");
  ASSERT_TRUE(place);
  EXPECT_EQ(place->lat, 52.52);
  EXPECT_EQ(place->lon, 13.405);
  EXPECT_EQ(place->city, "Berlin");
  EXPECT_EQ(place->region, "Berlin State");
}

TEST(ApproximatePlace, ServiceErrorOrNoReplyGivesNone) {
  testing::LoopbackHttpServer refused(
      testing::jsonReply(R"({"success":false,"message":"rate limited"})", 429));
  EXPECT_FALSE(detail::approximatePlaceFrom(refused.origin() + "/"));
  testing::LoopbackHttpServer notJson(testing::jsonReply("<html>busy</html>"));
  EXPECT_FALSE(detail::approximatePlaceFrom(notJson.origin() + "/"));
}

TEST(ApproximatePlace, CoordinatesMustBeJsonNumbersInRange) {
  EXPECT_TRUE(placeFromReply(reply(52, 13)));  // integers count
  EXPECT_TRUE(placeFromReply(reply(90, -180)));
  EXPECT_TRUE(placeFromReply(reply(-90.0, 180.0)));
  EXPECT_TRUE(placeFromReply(reply(0u, 0u)));
  EXPECT_FALSE(placeFromReply(reply(90.0001, 0)));
  EXPECT_FALSE(placeFromReply(reply(0, 180.0001)));
  EXPECT_FALSE(placeFromReply(reply(std::numeric_limits<double>::infinity(), 0)));
  EXPECT_FALSE(placeFromReply(reply("52.52", 13)));
  EXPECT_FALSE(placeFromReply(reply(52, "13")));
  EXPECT_FALSE(placeFromReply(reply(nullptr, 13)));
  EXPECT_FALSE(placeFromReply(reply(true, 13)));
  EXPECT_FALSE(placeFromReply(json{{"longitude", 13}, {"city", "Berlin"}}));
  EXPECT_FALSE(placeFromReply(json{{"latitude", 13}, {"city", "Berlin"}}));
}

TEST(ApproximatePlace, CityMustBeANonEmptyStringTakenAsIs) {
  EXPECT_FALSE(placeFromReply(reply(1, 2, "")));
  EXPECT_FALSE(placeFromReply(reply(1, 2, 7)));
  EXPECT_FALSE(placeFromReply(reply(1, 2, nullptr)));
  EXPECT_FALSE(placeFromReply(json{{"latitude", 1}, {"longitude", 2}}));
  std::optional<IpPlace> space = placeFromReply(reply(1, 2, " "));
  ASSERT_TRUE(space);
  EXPECT_EQ(space->city, " ");
  EXPECT_EQ(placeFromReply(reply(1, 2, " São Paulo\t"))->city, " São Paulo\t");
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

TEST(ApproximatePlace, OnlyAnObjectIsRead) {
  EXPECT_FALSE(placeFromReply(json::array({reply(1, 2)})));
  EXPECT_FALSE(placeFromReply(json::object()));
  EXPECT_FALSE(placeFromReply(json{{"success", false}, {"message", "Reserved range"}}));
}

}  // namespace
}  // namespace zeph
