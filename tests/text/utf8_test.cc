#include "text/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace zeph {
namespace {

TEST(Utf8, EveryScalarValueRoundTrips) {
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    std::string bytes;
    appendUtf8(c, bytes);
    Utf8Sequence s = decodeUtf8(bytes, 0);
    ASSERT_EQ(s.codePoint, c);
    ASSERT_EQ(s.length, bytes.size());
  }
}

TEST(Utf8, RefusesMalformedSequencesWhateverThePolicy) {
  for (std::string_view bad : {"\x80", "\xBF", "\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xE0\x9F\xBF",
                               "\xF0\x80\x80\x80", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80",
                               "\xFF", "\xE2\x82", "\xE2\x82x", "\xF0\x9F\x98"}) {
    SCOPED_TRACE(testing::PrintToString(std::string(bad)));
    for (SurrogatePolicy policy : {SurrogatePolicy::Refuse, SurrogatePolicy::Accept}) {
      EXPECT_EQ(decodeUtf8(bad, 0, policy).length, 0u);
      EXPECT_EQ(decodeUtf8(bad, 0, policy).codePoint, U'\uFFFD');
      EXPECT_EQ(findInvalidUtf8(bad, policy), 0u);
    }
  }
}

TEST(Utf8, SurrogatesFollowThePolicy) {
  std::string_view lone = "\xED\xA0\x80";  // U+D800 in its 3-byte form
  EXPECT_EQ(decodeUtf8(lone, 0).length, 0u);
  EXPECT_EQ(decodeUtf8(lone, 0, SurrogatePolicy::Accept).codePoint, char32_t{0xD800});
  EXPECT_EQ(findInvalidUtf8(lone, SurrogatePolicy::Accept), std::string_view::npos);
  std::string encoded;
  appendUtf8(0xDFFF, encoded);
  EXPECT_EQ(encoded, "\xED\xBF\xBF");
}

TEST(Utf8, FindsTheFirstBadByteAfterLongAsciiRuns) {
  EXPECT_EQ(findInvalidUtf8("plain ascii text, longer than one word"), std::string_view::npos);
  EXPECT_EQ(findInvalidUtf8("0123456789abcdef\xC3"), 16u);
  EXPECT_EQ(findInvalidUtf8("Zo\xC3\xAB 0123456789 \xFF tail"), 16u);
}

TEST(Utf8, LossyDecodingReplacesEachBadByte) {
  EXPECT_EQ(decodeUtf8Lossy("a\xFF"
                            "b"),
            U"a\uFFFDb");
  EXPECT_EQ(decodeUtf8Lossy("\xE2\x82"), U"\uFFFD\uFFFD");
  EXPECT_EQ(decodeUtf8Lossy("Z\xC3\xAB \xE2\x86\x92 \xF0\x9F\x8C\xA1"), U"Z\u00EB \u2192 \U0001F321");
  EXPECT_EQ(encodeUtf8(U"Z\u00EB \u2192 \U0001F321"), "Z\xC3\xAB \xE2\x86\x92 \xF0\x9F\x8C\xA1");
}

}  // namespace
}  // namespace zeph
