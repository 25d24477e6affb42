#include "plist/internal/openstep_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "plist/error.h"

namespace zeph::plist {
namespace {

Value parse(std::string_view s) {
  return readOpenStep({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()});
}

std::string errorOf(std::string_view s) {
  try {
    parse(s);
  } catch (const Error& e) {
    return e.what();
  }
  return "(no error)";
}

Value dict(std::vector<Dictionary::Member> members) {
  return Value(Dictionary::fromMembers(std::move(members), DuplicateKeys::KeepLast));
}

TEST(OpenStepReader, ReadsEveryConstruct) {
  Value v = parse(
      "// a comment\n"
      "{\n"
      "  name = \"zeph saver\"; /* block\n comment */\n"
      "  path = /Library/Screen_Savers/zeph.saver;\n"
      "  'single' = 'quoted';\n"
      "  list = (a, \"b\", (), {}, <0a0B ff>, );\n"
      "  empty = ();\n"
      "  bytes = <>;\n"
      "  shorthand;\n"
      "  $x:y-z.1 = 42;\n"
      "}\n");
  EXPECT_EQ(v, dict({{"name", Value("zeph saver")},
                     {"path", Value("/Library/Screen_Savers/zeph.saver")},
                     {"single", Value("quoted")},
                     {"list", Value(Array{Value("a"), Value("b"), Value(Array{}), Value(Dictionary{}),
                                          Value(Data{0x0A, 0x0B, 0xFF})})},
                     {"empty", Value(Array{})},
                     {"bytes", Value(Data{})},
                     {"shorthand", Value("shorthand")},
                     {"$x:y-z.1", Value("42")}}));  // every scalar is a string
}

TEST(OpenStepReader, ReadsTopLevelForms) {
  EXPECT_EQ(parse(""), Value(Dictionary{}));
  EXPECT_EQ(parse(" \t\r\n\v\f // nothing\n /* here */ \xE2\x80\xA8\xE2\x80\xA9"), Value(Dictionary{}));
  EXPECT_EQ(parse("<abcd>"), Value(Data{0xAB, 0xCD}));
  EXPECT_EQ(parse("  \"just a string\"  "), Value("just a string"));
  EXPECT_EQ(parse("(1,2)"), Value(Array{Value("1"), Value("2")}));
  // A string followed by more text makes the whole input a strings file.
  EXPECT_EQ(parse("\"greeting\" = \"hello\";\n\"farewell\" = \"bye\";\nalone;"),
            dict({{"greeting", Value("hello")}, {"farewell", Value("bye")}, {"alone", Value("alone")}}));
  EXPECT_EQ(parse("a = (x); b = {c = d;};"),
            dict({{"a", Value(Array{Value("x")})}, {"b", dict({{"c", Value("d")}})}}));
  // A byte-order mark, and UTF-16 text.
  EXPECT_EQ(parse("\xEF\xBB\xBF{a=b;}"), dict({{"a", Value("b")}}));
  EXPECT_EQ(parse(std::string_view("\xFF\xFE{\0k\0=\0\"\0\xE9\0\"\0;\0}\0", 18)),
            dict({{"k", Value("\xC3\xA9")}}));
}

TEST(OpenStepReader, LastDuplicateKeyWins) {
  EXPECT_EQ(parse("{a = 1; b = 2; a = 3;}"), dict({{"a", Value("3")}, {"b", Value("2")}}));
}

TEST(OpenStepReader, DecodesEscapes) {
  auto str = [](std::string_view quoted) { return *parse(quoted).asString(); };
  EXPECT_EQ(str(R"("\a\b\f\n\r\t\v")"), "\a\b\f\n\r\t\v");
  EXPECT_EQ(str(R"("q\"uote\\ \'s\' \z\?")"), "q\"uote\\ 's' z?");
  EXPECT_EQ(str(R"('it\'s "fine"')"), "it's \"fine\"");
  EXPECT_EQ(str("\"line\\\nbreak\""), "line\nbreak");
  EXPECT_EQ(str("\"raw\r\nline\""), "raw\r\nline");
  EXPECT_EQ(str("\"\\\xC3\xA9\""), "\xC3\xA9");  // an escaped multibyte character stands for itself
  EXPECT_EQ(str(R"("\U00e9\U20AC\U41x\Ug")"), std::string("\xC3\xA9\xE2\x82\xAC"
                                                          "Ax"
                                                          "\0g",
                                                          9));
  EXPECT_EQ(str(R"("\U41")"), "A");
  EXPECT_EQ(str(R"("\UD83D\UDE00")"), "\xF0\x9F\x98\x80");  // a surrogate pair joins
  // A lone surrogate keeps its 3-byte form, as the binary codec keeps it.
  EXPECT_EQ(str(R"("\UD83Dx")"), "\xED\xA0\xBDx");
  EXPECT_EQ(str(R"("\UDE00")"), "\xED\xB8\x80");
  // Octal escapes name NeXTSTEP characters; at most three digits, into a byte.
  EXPECT_EQ(str(R"("\101\0\1012")"), std::string("A\0A2", 4));
  EXPECT_EQ(str(R"("\200\241\251\320\341\373")"), "\xC2\xA0\xC2\xA1'\xE2\x80\x94\xC3\x86\xC3\x9F");
  EXPECT_EQ(str(R"("\376\377")"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(str(R"("\777")"), "\xEF\xBF\xBD");  // 0777 wraps to 0xFF
}

TEST(OpenStepReader, RejectsMalformedText) {
  struct BadCase {
    std::string_view text;
    std::string_view error;
  };
  const BadCase cases[] = {
      {"{a = b}", "line 1: missing ';' after dictionary value"},
      {"{a = b;", "line 1: unterminated dictionary"},
      {"{\n\na b;}", "line 3: missing '=' after dictionary key"},
      {"{(a) = b;}", "dictionary key is not a string"},
      {"{a = ;}", "unexpected character ';'"},
      {"(a b)", "missing ',' between array items"},
      {"(,)", "unexpected character ','"},
      {"(a,", "unterminated array"},
      {"<abc>", "odd number of hex digits in data"},
      {"<zz>", "invalid character in data"},
      {"<ab", "unterminated data"},
      {"\"abc", "unterminated string"},
      {"'abc\\", "unterminated string"},
      {"/* open", "unterminated comment"},
      {"(a) junk", "junk after the property list"},
      {"word another", "missing '=' after dictionary key"},
      {"\"a\" = \"b\"", "missing ';' after dictionary value"},
      {"#", "unexpected character '#'"},
      {"(\x01)", "unexpected character 0x01"},
      {"{a=\"\xFF\";}", "byte 4: text is not valid UTF-8"},
      {std::string_view("\xFE\xFF\xD8\x00", 4), "text is not valid UTF-16"},
  };
  for (const auto& c : cases) {
    std::string message = errorOf(c.text);
    EXPECT_NE(message.find(c.error), std::string::npos) << c.text << "\nmessage: " << message;
    EXPECT_TRUE(message.starts_with("old-style plist: ")) << message;
  }
}

TEST(OpenStepReader, LimitsNestingTo512) {
  EXPECT_NO_THROW(parse(std::string(512, '(') + std::string(512, ')')));
  EXPECT_NE(errorOf(std::string(513, '(') + std::string(513, ')')).find("too many nested"),
            std::string::npos);
  EXPECT_NE(errorOf(std::string(100'000, '(')).find("too many nested"), std::string::npos);
  // The strings-file dictionary counts as one level.
  std::string body = "a = " + std::string(511, '(') + std::string(511, ')') + ";";
  EXPECT_NO_THROW(parse(body));
  EXPECT_NE(errorOf("a = " + std::string(512, '(') + std::string(512, ')') + ";").find("too many nested"),
            std::string::npos);
}

}  // namespace
}  // namespace zeph::plist
