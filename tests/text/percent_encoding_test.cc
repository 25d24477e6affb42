#include "text/percent_encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace zeph {
namespace {

TEST(PercentEncoding, QueryValuesKeepOnlyUnreservedCharacters) {
  EXPECT_EQ(percentEncode("São Paulo, Brazil", KeptCharacters::Unreserved), "S%C3%A3o%20Paulo%2C%20Brazil");
  EXPECT_EQ(percentEncode("a&b=c+d#e%f/g~h_i.j-k", KeptCharacters::Unreserved),
            "a%26b%3Dc%2Bd%23e%25f%2Fg~h_i.j-k");
  EXPECT_EQ(percentEncode(std::string("\0\xFF", 2), KeptCharacters::Unreserved), "%00%FF");
}

TEST(PercentEncoding, UrlPathsKeepPathCharacters) {
  EXPECT_EQ(percentEncode("/Users/Zoë Smith/Library/Screen Savers/zeph.saver", KeptCharacters::UrlPath),
            "/Users/Zo%C3%AB%20Smith/Library/Screen%20Savers/zeph.saver");
  EXPECT_EQ(percentEncode("/a:b@c!$&'()*+,;=d?e#f%g", KeptCharacters::UrlPath),
            "/a:b@c!$&'()*+,;=d%3Fe%23f%25g");
}

TEST(PercentEncoding, DecodingUndoesEncodingAndRefusesBrokenEscapes) {
  for (const char* text : {"", "plain", "/Users/Zoë Smith/Screen Savers", "100% sure", "%%"}) {
    for (KeptCharacters kept : {KeptCharacters::Unreserved, KeptCharacters::UrlPath}) {
      EXPECT_EQ(percentDecode(percentEncode(text, kept)), std::string(text));
    }
  }
  EXPECT_EQ(percentDecode("%7e%7E"), "~~");
  EXPECT_EQ(percentDecode("%"), std::nullopt);
  EXPECT_EQ(percentDecode("%4"), std::nullopt);
  EXPECT_EQ(percentDecode("a%G0"), std::nullopt);
}

}  // namespace
}  // namespace zeph
