#include "text/c_locale_number.h"

#include <gtest/gtest.h>

#include <bit>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>
#ifndef __APPLE__
#include <charconv>
#endif

namespace zeph {
namespace {

std::string realText(double r) { return std::string(RealText(r).view()); }

double fromBits(std::uint64_t bits) { return std::bit_cast<double>(bits); }

// A process locale with a decimal comma while in scope, when the machine has one.
class DecimalCommaLocale {
 public:
  DecimalCommaLocale() {
    const char* current = std::setlocale(LC_NUMERIC, nullptr);
    saved_ = current ? current : "C";
    active_ = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "fr_FR.UTF-8");
  }
  ~DecimalCommaLocale() { std::setlocale(LC_NUMERIC, saved_.c_str()); }
  DecimalCommaLocale(const DecimalCommaLocale&) = delete;
  DecimalCommaLocale& operator=(const DecimalCommaLocale&) = delete;
  bool active() const { return active_; }

 private:
  std::string saved_;
  bool active_ = false;
};

// Finite doubles from every corner: raw bit patterns (mostly huge or tiny
// exponents), subnormals, and everyday magnitudes.
std::vector<double> randomFiniteDoubles(std::size_t count) {
  std::mt19937_64 random(20260807);
  std::uniform_real_distribution<double> everyday(-1e6, 1e6);
  std::vector<double> values;
  while (values.size() < count) {
    double d;
    switch (values.size() % 3) {
      case 0:
        d = fromBits(random());
        break;
      case 1:
        d = fromBits(random() & 0x800F'FFFF'FFFF'FFFFull);
        break;
      default:
        d = everyday(random);
        break;
    }
    if (std::isfinite(d)) values.push_back(d);
  }
  return values;
}

TEST(RealText, WritesSeventeenSignificantDigitsInPrintfsSpelling) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {0.1, "0.10000000000000001"},
      {1.0, "1"},
      {123456.5, "123456.5"},
      {1e16, "10000000000000000"},  // up to 17 integer digits without an exponent
      {1e17, "1e+17"},
      {1e-5, "1.0000000000000001e-05"},
      {5e-324, "4.9406564584124654e-324"},
      {fromBits(0x000F'FFFF'FFFF'FFFFull), "2.2250738585072009e-308"},  // largest subnormal
      {std::numeric_limits<double>::min(), "2.2250738585072014e-308"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
      {std::numeric_limits<double>::lowest(), "-1.7976931348623157e+308"},
      // The XML writer spells zeros itself; the sign is printf's.
      {0.0, "0"},
      {-0.0, "-0"},
  };
  for (const Case& c : cases) EXPECT_EQ(realText(c.value), c.text) << c.text;
}

TEST(RealText, ReadsBackToTheSameDoubleWhateverTheProcessLocale) {
  DecimalCommaLocale comma;
  for (double d : randomFiniteDoubles(30000)) {
    std::string text = realText(d);
    ASSERT_EQ(text.find(','), std::string::npos) << text;
    std::optional<double> back = wholeNumberInCLocale(text);
    ASSERT_TRUE(back) << text;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(*back), std::bit_cast<std::uint64_t>(d)) << text;
  }
}

TEST(RealText, MatchesToCharsWithSeventeenDigits) {
#ifdef __APPLE__
  GTEST_SKIP() << "std::to_chars for doubles needs macOS 13.3; the other RealText tests still run";
#else
  // What the XML writer used before; its output must not change by a byte.
  DecimalCommaLocale comma;
  std::vector<double> values = randomFiniteDoubles(200000);
  values.insert(values.end(), {0.1, 1e21, 5e-324, std::numeric_limits<double>::max(),
                               std::numeric_limits<double>::min(), fromBits(1), -0.0, 0.0});
  for (double d : values) {
    char expected[32];
    auto end = std::to_chars(expected, expected + sizeof expected, d, std::chars_format::general, 17).ptr;
    ASSERT_EQ(realText(d), std::string(expected, end)) << std::hex << std::bit_cast<std::uint64_t>(d);
  }
#endif
}

TEST(CLocaleNumber, IgnoresADecimalCommaLocaleAndLeavesItInPlace) {
  DecimalCommaLocale comma;
  if (!comma.active())
    GTEST_SKIP() << "no decimal-comma locale installed (scripts/install-deps.sh makes de_DE.UTF-8)";
  char shown[16];
  std::snprintf(shown, sizeof shown, "%g", 0.5);
  ASSERT_STREQ(shown, "0,5");  // the locale is in force
  EXPECT_EQ(realText(0.5), "0.5");
  EXPECT_EQ(wholeNumberInCLocale("0.5"), 0.5);
  EXPECT_FALSE(wholeNumberInCLocale("0,5"));
  // The thread is back in the process locale afterwards.
  std::snprintf(shown, sizeof shown, "%g", 0.5);
  EXPECT_STREQ(shown, "0,5");
}

TEST(CLocaleNumber, ReadsOnlyWholeTexts) {
  EXPECT_EQ(wholeNumberInCLocale("1.5e3"), 1500);
  EXPECT_EQ(wholeNumberInCLocale(" 2"), 2);  // strtod's leading space; callers refuse it themselves
  EXPECT_EQ(wholeNumberInCLocale("0x10"), 16);
  EXPECT_TRUE(std::isinf(*wholeNumberInCLocale("-inf")));
  for (std::string_view text : {"", " ", "1 ", "1x", "1,5", ".", "e5", "--1"}) {
    EXPECT_FALSE(wholeNumberInCLocale(text)) << '"' << text << '"';
  }
  EXPECT_FALSE(
      wholeNumberInCLocale(std::string_view("1\0"
                                            "2",
                                            3)));
  // Only the view's characters count, not what follows them in memory.
  std::string_view prefix = std::string_view("12345").substr(0, 2);
  EXPECT_EQ(wholeNumberInCLocale(prefix), 12);
}

}  // namespace
}  // namespace zeph
