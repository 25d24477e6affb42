#include "text/number_rule.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

#include "text/unicode_trim.h"

namespace zeph {
namespace {

TEST(NumberRule, AcceptsWhatStrtodReadsWhole) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {{"52.52", 52.52}, {"-33.9", -33.9},   {"+18.4", 18.4}, {".5", 0.5},  {"5.", 5},
               {"1e1", 10},      {"-1.5E-1", -0.15}, {"0x1p3", 8},    {"0X10", 16}, {"00090", 90}};
  for (const Case& c : cases) {
    std::optional<double> n = numberFromText(c.text);
    ASSERT_TRUE(n) << c.text;
    EXPECT_DOUBLE_EQ(*n, c.value) << c.text;
  }
  EXPECT_TRUE(std::isinf(*numberFromText("inf")));
  EXPECT_TRUE(std::isinf(*numberFromText("-Infinity")));
  EXPECT_TRUE(std::isnan(*numberFromText("nan")));
  EXPECT_TRUE(std::isnan(*numberFromText("NaN(123)")));
  EXPECT_TRUE(std::isinf(*numberFromText("1e999")));
}

TEST(NumberRule, RejectsPartialAndPaddedText) {
  const char* texts[] = {"",
                         " 1",
                         "\t1",
                         "\n1",
                         "1 ",
                         "1,5",
                         "1e",
                         "0x",
                         "abc",
                         "1.2.3",
                         "--1",
                         "52,52",
                         ("\xC2\xA0"
                          "1")};
  for (const char* text : texts) EXPECT_FALSE(numberFromText(text)) << text;
  EXPECT_FALSE(numberFromText(std::string_view("1\0002", 3)));
}

TEST(NumberRule, IgnoresTheProcessLocale) {
  // A locale with a decimal comma, when the machine has one; the rule must not follow it.
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = old ? old : "C";
  bool changed = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "fr_FR.UTF-8");
  EXPECT_EQ(numberFromText("52.52"), 52.52);
  EXPECT_FALSE(numberFromText("52,52"));
  std::setlocale(LC_NUMERIC, saved.c_str());
  if (!changed) GTEST_SKIP() << "no decimal-comma locale installed";
}

TEST(NumberRule, RangeIncludesTheBoundsAndRejectsNan) {
  EXPECT_TRUE(coordinatesInRange(90, -180));
  EXPECT_TRUE(coordinatesInRange(-90, 180));
  EXPECT_FALSE(coordinatesInRange(90.0001, 0));
  EXPECT_FALSE(coordinatesInRange(0, -180.0001));
  double nan = std::numeric_limits<double>::quiet_NaN();
  double inf = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(coordinatesInRange(nan, 0));
  EXPECT_FALSE(coordinatesInRange(0, nan));
  EXPECT_FALSE(coordinatesInRange(inf, 0));
}

TEST(UnicodeTrim, TrimsTabAndSpaceSeparatorsOnly) {
  EXPECT_EQ(trimWhitespaces(" \t52.52 \t"), "52.52");
  // U+00A0, U+1680, U+2000, U+200A, U+202F, U+205F, U+3000 around the text.
  EXPECT_EQ(
      trimWhitespaces("\xC2\xA0\xE1\x9A\x80\xE2\x80\x80 x \xE2\x80\x8A\xE2\x80\xAF\xE2\x81\x9F\xE3\x80\x80"),
      "x");
  // Line breaks and the zero-width space (U+200B) are not whitespace here.
  EXPECT_EQ(trimWhitespaces("\n1\r"), "\n1\r");
  EXPECT_EQ(trimWhitespaces("\xE2\x80\x8B"
                            "1"),
            "\xE2\x80\x8B"
            "1");
  EXPECT_EQ(trimWhitespaces("  "), "");
  EXPECT_EQ(trimWhitespaces(""), "");
  // Inner spaces stay.
  EXPECT_EQ(trimWhitespaces(" a b "), "a b");
}

TEST(UnicodeTrim, KeepsMalformedUtf8) {
  EXPECT_EQ(trimWhitespaces(" \xFF "), "\xFF");
  // A lone continuation byte and a truncated sequence are kept, not misread.
  EXPECT_EQ(trimWhitespaces("\xA0 "), "\xA0");
  EXPECT_EQ(trimWhitespaces("\xE2\x80"), "\xE2\x80");
  // Overlong encoding of a space (0xC0 0xA0) is not a space.
  EXPECT_EQ(trimWhitespaces("\xC0\xA0"), "\xC0\xA0");
}

TEST(UnicodeTrim, TheNewlinesSetAlsoTakesLineBreaks) {
  // LF, CR, VT, FF, U+0085, U+2028, U+2029 around the text, beside a space.
  EXPECT_EQ(
      trimUnicode("\n\r\v\f \xC2\x85Oslo\xE2\x80\xA8\xE2\x80\xA9\t", TrimmedSet::WhitespacesAndNewlines),
      "Oslo");
  EXPECT_EQ(trimUnicode("\nOslo\n", TrimmedSet::Whitespaces), "\nOslo\n");
  EXPECT_EQ(trimUnicode("\n\xFF\n", TrimmedSet::WhitespacesAndNewlines), "\xFF");
  EXPECT_EQ(trimUnicode("\xE2\x80\x8BOslo", TrimmedSet::WhitespacesAndNewlines), "\xE2\x80\x8BOslo");
}

}  // namespace
}  // namespace zeph
