#include "wallpaper_store/idle_entry.h"

#include <gtest/gtest.h>

#include "base/process_values.h"
#include "plist/format.h"
#include "support/sandbox.h"
#include "support/store_builders.h"

namespace zeph {
namespace {

using test_support::array;
using test_support::dict;
using test_support::str;

// Percent-decoding, to check that a URL names its path exactly.
std::string decodePath(const std::string& url) {
  std::string path;
  for (std::size_t i = std::string("file://").size(); i < url.size(); ++i) {
    if (url[i] == '%') {
      path += static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      path += url[i];
    }
  }
  return path;
}

plist::Value configurationFor(const plist::Value& relative, plist::Format format = plist::Format::Binary) {
  return plist::Value(plist::write(dict({{"module", dict({{"relative", relative}})}}), format));
}

plist::Value choiceWith(plist::Value configuration, const char* provider = kScreenSaverProvider) {
  return dict(
      {{"Provider", str(provider)}, {"Files", array({})}, {"Configuration", std::move(configuration)}});
}

bool entryWithChoicesIsZeph(std::vector<plist::Value> choices) {
  plist::Value entry =
      dict({{"Content", dict({{"Choices", array(std::move(choices))}, {"Shuffle", str("$null")}})}});
  return isZeph(entry.asDictionary());
}

plist::Value matching() {
  return configurationFor(str("file:///Users/a/Library/Screen%20Savers/zeph.saver"));
}

TEST(FileUrl, EncodesEverythingButPathCharacters) {
  EXPECT_EQ(fileUrl("/tmp/x/Zoë Smith/Library/Screen Savers/zeph.saver"),
            "file:///tmp/x/Zo%C3%AB%20Smith/Library/Screen%20Savers/zeph.saver");
  EXPECT_EQ(fileUrl("/a-b._~!$&'()*+,;=:@/c"), "file:///a-b._~!$&'()*+,;=:@/c");
  EXPECT_EQ(fileUrl("/100% ?#[]\"<>\\^`{|}"), "file:///100%25%20%3F%23%5B%5D%22%3C%3E%5C%5E%60%7B%7C%7D");
  std::string everyByte = "/";
  for (int c = 1; c < 256; ++c) everyByte += static_cast<char>(c);
  EXPECT_EQ(decodePath(fileUrl(everyByte)), everyByte);
}

TEST(ZephIdleNode, HasTheShapeTheAgentExpects) {
  setProcessValues("/tmp/x/Zoë Smith", true);
  plist::Dictionary entry = zephIdleNode();
  ASSERT_EQ(entry.size(), 3u);
  const plist::Date* lastSet = entry.find("LastSet")->asDate();
  const plist::Date* lastUse = entry.find("LastUse")->asDate();
  ASSERT_TRUE(lastSet && lastUse);
  EXPECT_LE(lastSet->secondsSince2001, lastUse->secondsSince2001);
  EXPECT_GT(lastSet->secondsSince2001, 7.5e8);  // after 2024

  const plist::Dictionary* content = plist::dictionaryMember(entry, "Content");
  ASSERT_TRUE(content);
  EXPECT_EQ(content->size(), 2u);
  EXPECT_EQ(*content->find("Shuffle"), str("$null"));
  const plist::Array* choices = content->find("Choices")->asArray();
  ASSERT_TRUE(choices);
  ASSERT_EQ(choices->size(), 1u);
  const plist::Dictionary* choice = (*choices)[0].asDictionary();
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->size(), 3u);
  EXPECT_EQ(*choice->find("Provider"), str("com.apple.wallpaper.choice.screen-saver"));
  EXPECT_EQ(*choice->find("Files"), array({}));

  const plist::Data* configuration = choice->find("Configuration")->asData();
  ASSERT_TRUE(configuration);
  EXPECT_EQ(std::string(configuration->begin(), configuration->begin() + 8), "bplist00");
  std::string url = "file:///tmp/x/Zo%C3%AB%20Smith/Library/Screen%20Savers/zeph.saver";
  EXPECT_EQ(plist::read(*configuration), dict({{"module", dict({{"relative", plist::Value(url)}})}}));
  EXPECT_EQ(decodePath(url), saverDest);

  plist::Dictionary again = zephIdleNode();
  const plist::Value& againChoice =
      again.find("Content")->asDictionary()->find("Choices")->asArray()->front();
  EXPECT_EQ(*againChoice.asDictionary()->find("Configuration")->asData(), *configuration);
  EXPECT_TRUE(isZeph(&entry));
}

TEST(IsZeph, RecognisesAnyMatchingModuleConfiguration) {
  EXPECT_TRUE(entryWithChoicesIsZeph({choiceWith(matching())}));
  EXPECT_TRUE(entryWithChoicesIsZeph(
      {choiceWith(configurationFor(str("file:///x/zeph.saver"), plist::Format::Xml))}));
  EXPECT_TRUE(entryWithChoicesIsZeph(
      {choiceWith(configurationFor(str("file:///Library/Screen%20Savers/zeph.saver/")))}));
  EXPECT_TRUE(entryWithChoicesIsZeph({choiceWith(matching(), "com.apple.wallpaper.choice.image")}));
  // A choice that does not decode, or holds the wrong kinds, passes the turn to the next one.
  EXPECT_TRUE(entryWithChoicesIsZeph(
      {choiceWith(plist::Value(plist::Data{'n', 'o', 'p', 'e'})), choiceWith(matching())}));
  EXPECT_TRUE(entryWithChoicesIsZeph(
      {choiceWith(configurationFor(plist::Value::integer(7))), choiceWith(matching())}));
  EXPECT_TRUE(entryWithChoicesIsZeph({dict({{"Provider", str("x")}}), choiceWith(matching())}));
}

TEST(IsZeph, RejectsEverythingElse) {
  EXPECT_FALSE(isZeph(nullptr));
  plist::Dictionary empty;
  EXPECT_FALSE(isZeph(&empty));
  EXPECT_FALSE(entryWithChoicesIsZeph({}));
  EXPECT_FALSE(entryWithChoicesIsZeph({choiceWith(matching()), str("stray")}));
  EXPECT_FALSE(entryWithChoicesIsZeph({choiceWith(configurationFor(str("file:///x/Zeph.saver")))}));
  EXPECT_FALSE(entryWithChoicesIsZeph({choiceWith(configurationFor(plist::Value::integer(1)))}));
  EXPECT_FALSE(
      entryWithChoicesIsZeph({choiceWith(configurationFor(dict({{"zeph.saver", str("zeph.saver")}})))}));
  EXPECT_FALSE(
      entryWithChoicesIsZeph({choiceWith(plist::read(*matching().asData()))}));  // a dictionary, not data
  EXPECT_FALSE(entryWithChoicesIsZeph({choiceWith(str("zeph.saver"))}));
  plist::Value nestedWrong =
      plist::Value(plist::write(dict({{"module", str("zeph.saver")}}), plist::Format::Binary));
  EXPECT_FALSE(entryWithChoicesIsZeph({choiceWith(nestedWrong)}));
  plist::Value rootArray = plist::Value(plist::write(array({str("zeph.saver")}), plist::Format::Binary));
  EXPECT_FALSE(entryWithChoicesIsZeph({choiceWith(rootArray)}));

  plist::Value choicesNotArray = dict({{"Content", dict({{"Choices", choiceWith(matching())}})}});
  EXPECT_FALSE(isZeph(choicesNotArray.asDictionary()));
  plist::Value contentNotDictionary = dict({{"Content", array({choiceWith(matching())})}});
  EXPECT_FALSE(isZeph(contentNotDictionary.asDictionary()));
}

bool selectsWithChoices(std::vector<plist::Value> choices) {
  return selectsInstalledSaver(
      dict({{"Content", dict({{"Choices", array(std::move(choices))}})}}).asDictionary());
}

TEST(SelectsInstalledSaver, AcceptsEverySpellingOfTheInstalledBundlesFileUrl) {
  setProcessValues("/Users/Zo\xC3\xAB Smith", true);
  for (const char* url : {
           "file:///Users/Zo%C3%AB%20Smith/Library/Screen%20Savers/zeph.saver",
           "file:///Users/Zo%C3%AB%20Smith/Library/Screen%20Savers/zeph.saver/",
           "file://localhost/Users/Zo%C3%AB%20Smith/Library/Screen%20Savers/zeph.saver",
           "FILE://LocalHost/Users/Zo%c3%ab%20Smith/Library/Screen%20Savers/zeph.saver",
           "file:///Users/Zo\xC3\xAB Smith/Library/Screen Savers/zeph.saver",
           "file:/Users/Zo%C3%AB%20Smith/Library/Screen%20Savers/%7A%65ph.saver",
       }) {
    SCOPED_TRACE(url);
    EXPECT_TRUE(selectsWithChoices({choiceWith(configurationFor(str(url)))}));
    // Any choice may be the one; others that do not decode are passed over.
    EXPECT_TRUE(selectsWithChoices({choiceWith(plist::Value(plist::Data{'n'})),
                                    choiceWith(configurationFor(str(url), plist::Format::Xml))}));
  }
  const plist::Dictionary fresh = zephIdleNode();
  EXPECT_TRUE(selectsInstalledSaver(&fresh));
}

TEST(SelectsInstalledSaver, RejectsEveryOtherBundleHomeOrKindOfUrl) {
  setProcessValues("/Users/Zo\xC3\xAB Smith", true);
  const std::string dest = "/Users/Zo%C3%AB%20Smith/Library/Screen%20Savers/zeph.saver";
  const std::string rejected[] = {
      "file:///Users/olduser/Library/Screen%20Savers/zeph.saver",  // a migrated account
      "file:///Users/Zo%C3%AB%20Smith/Library/Screen%20Savers/notzeph.saver",
      "file://" + dest + ".png",
      "file://" + dest + "//",
      "file://" + dest + "/Contents",
      "file://otherhost" + dest,
      "file://localhost.example" + dest,
      "https://zeph.app" + dest,
      "file://" + dest + "?x",
      "file://" + dest + "#x",
      "file://" + dest + "%2",
      "file://" + dest + "%zz",
      "file://" + dest.substr(0, dest.size() - 1) + "%0",
      "zeph.saver",
      "file:zeph.saver",
      "",
  };
  for (const std::string& url : rejected) {
    SCOPED_TRACE(url);
    EXPECT_FALSE(selectsWithChoices({choiceWith(configurationFor(str(url.c_str())))}));
  }
  // Right URL, wrong shapes around it.
  EXPECT_FALSE(selectsInstalledSaver(nullptr));
  EXPECT_FALSE(selectsInstalledSaver(plist::Value("file://" + dest).asDictionary()));
  EXPECT_FALSE(selectsWithChoices({}));
  plist::Value good = choiceWith(configurationFor(str(("file://" + dest).c_str())));
  EXPECT_FALSE(selectsInstalledSaver(dict({{"Content", dict({{"Choices", good}})}}).asDictionary()));
  EXPECT_FALSE(selectsInstalledSaver(dict({{"Content", array({good})}}).asDictionary()));
  // A choice list with anything but dictionaries in it is no saver's, in any place.
  for (const plist::Value& stray :
       {str("stray"), plist::Value(plist::Array{}), plist::Value(plist::Date{0})}) {
    EXPECT_FALSE(selectsWithChoices({stray, good}));
    EXPECT_FALSE(selectsWithChoices({good, stray}));
  }
  EXPECT_FALSE(selectsWithChoices(
      {choiceWith(plist::read(*configurationFor(str(("file://" + dest).c_str())).asData()))}));
}

}  // namespace
}  // namespace zeph
