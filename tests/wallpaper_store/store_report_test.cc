#include "wallpaper_store/store_report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "base/process_values.h"
#include "support/sandbox.h"
#include "support/store_builders.h"
#include "wallpaper_store/idle_entry.h"

namespace zeph {
namespace {

using testing::array;
using testing::dict;
using testing::str;

TEST(StoreReport, DescribesEverySlotThenTheCount) {
  setProcessValues("/Users/a", true);
  plist::Dictionary fresh = zephIdleNode();
  fresh.set("LastSet", plist::Value(plist::Date{818284903}));
  fresh.set("LastUse", plist::Value(plist::Date{818284963.5}));
  plist::Value saver(fresh);
  plist::Value image = dict(
      {{"Content", dict({{"Choices", array({dict({{"Provider", str("com.apple.wallpaper.choice.image")}}),
                                            str("stray"), dict({})})}})},
       {"LastUse", plist::Value(plist::Date{0})}});
  plist::Value root = dict({
      {"SystemDefault", dict({{"Idle", saver}})},
      {"Spaces", dict({{"ABC", dict({{"Default", dict({})},
                                     {"Displays", dict({{"XYZ", dict({{"Idle", image}})},
                                                        {"Z\"\n", dict({{"Idle", saver}})}})}})}})},
  });
  EXPECT_EQ(storeReport(*root.asDictionary()),
            "system default: com.apple.wallpaper.choice.screen-saver "
            "file:///Users/a/Library/Screen%20Savers/zeph.saver (set 2026-12-06T21:21:43Z, used "
            "2026-12-06T21:22:43Z)\n"
            "space \"ABC\" default: none\n"
            "space \"ABC\" display \"XYZ\": com.apple.wallpaper.choice.image, (no provider) (used "
            "2001-01-01T00:00:00Z)\n"
            "space \"ABC\" display \"Z\\x22\\x0A\": com.apple.wallpaper.choice.screen-saver "
            "file:///Users/a/Library/Screen%20Savers/zeph.saver (set 2026-12-06T21:21:43Z, used "
            "2026-12-06T21:22:43Z)\n"
            "2 slots hold the zeph saver\n");

  plist::Value one = dict({{"SystemDefault", dict({{"Idle", saver}})}, {"Spaces", str("$null")}});
  EXPECT_EQ(storeReport(*one.asDictionary()).substr(storeReport(*one.asDictionary()).find('\n') + 1),
            "1 slot holds the zeph saver\n");
  EXPECT_EQ(storeReport(plist::Dictionary{}), "0 slots hold the zeph saver\n");
}

TEST(StoreReportJson, SameFactsAsTheTextWithNullsForWhatIsMissing) {
  setProcessValues("/Users/a", true);
  plist::Dictionary fresh = zephIdleNode();
  fresh.set("LastSet", plist::Value(plist::Date{818284903}));
  fresh.set("LastUse", plist::Value(plist::Date{1e300}));  // beyond any calendar
  plist::Value saver(fresh);
  // A lone surrogate, as the codec keeps it from a store.
  plist::Value odd =
      dict({{"Content", dict({{"Choices", array({dict({{"Provider", str("bad \xED\xA0\x80")}})})}})}});
  plist::Value root = dict({
      {"SystemDefault", dict({{"Idle", saver}})},
      {"Spaces",
       dict({{"ABC", dict({{"Default", dict({})}, {"Displays", dict({{"XYZ", dict({{"Idle", odd}})}})}})}})},
  });
  std::string text = storeReportJson(*root.asDictionary(), "/s/Index.plist");
  ASSERT_EQ(text.find('\n'), text.size() - 1);
  nlohmann::json report = nlohmann::json::parse(text);
  EXPECT_EQ(report["schema"], 1);
  EXPECT_EQ(report["store"], "/s/Index.plist");
  EXPECT_EQ(report["zeph"], 1);
  EXPECT_EQ(report["total"], 3);
  ASSERT_EQ(report["slots"].size(), 3u);
  const nlohmann::json& first = report["slots"][0];
  EXPECT_EQ(first["place"], "system default");
  EXPECT_TRUE(first["space"].is_null());
  EXPECT_TRUE(first["display"].is_null());
  EXPECT_EQ(first["selection"],
            nlohmann::json::parse(R"([{"provider": "com.apple.wallpaper.choice.screen-saver",
      "url": "file:///Users/a/Library/Screen%20Savers/zeph.saver"}])"));
  EXPECT_EQ(first["set"], "2026-12-06T21:21:43Z");
  EXPECT_TRUE(first["used"].is_null());
  EXPECT_EQ(first["zeph"], true);
  const nlohmann::json& second = report["slots"][1];
  EXPECT_EQ(second["place"], "space default");
  EXPECT_EQ(second["space"], "ABC");
  EXPECT_EQ(second["selection"], nlohmann::json::array());
  EXPECT_TRUE(second["set"].is_null());
  EXPECT_EQ(second["zeph"], false);
  const nlohmann::json& third = report["slots"][2];
  EXPECT_EQ(third["display"], "XYZ");
  EXPECT_EQ(third["selection"][0]["provider"], "bad \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_TRUE(third["selection"][0]["url"].is_null());
}

}  // namespace
}  // namespace zeph
