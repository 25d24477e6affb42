#include "plist/internal/xml_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <string_view>

#include "plist/error.h"

namespace zeph::plist {
namespace {

Value parse(std::string_view s) {
  return readXml({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()});
}

// The one object of a <plist> document holding `body`.
Value parseBody(std::string_view body) {
  return parse("<plist version=\"1.0\">" + std::string(body) + "</plist>");
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

struct GoodCase {
  std::string_view text;
  Value want;
};

// Checks what each case's text reads as, put between `before` and `after`.
struct ExpectReads {
  std::string before, after;
  void operator()(std::initializer_list<GoodCase> cases) const {
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
      EXPECT_EQ(parse(before + std::string(c.text) + after), c.want);
    }
  }
};
const ExpectReads expectDocuments{"", ""};
const ExpectReads expectBodies{"<plist version=\"1.0\">", "</plist>"};
ExpectReads expectElements(const std::string& tag) {
  return {"<plist><" + tag + ">", "</" + tag + "></plist>"};
}

struct BadCase {
  std::string_view document;
  std::string_view error;  // expected part of the message
};

void expectErrors(std::initializer_list<BadCase> cases) {
  for (const auto& c : cases) {
    std::string message = errorOf(c.document);
    EXPECT_NE(message.find(c.error), std::string::npos)
        << "document: " << c.document << "\nmessage: " << message << "\nwanted: " << c.error;
  }
}

TEST(XmlReader, ReadsEveryKind) {
  Value v = parse(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n<dict>\n"
      "\t<key>s</key><string>text</string>\n"
      "\t<key>i</key><integer>-42</integer>\n"
      "\t<key>r</key><real>2.5</real>\n"
      "\t<key>t</key><true/>\n\t<key>f</key><false/>\n"
      "\t<key>d</key><data>AAEC</data>\n"
      "\t<key>when</key><date>2001-01-02T00:00:01Z</date>\n"
      "\t<key>a</key><array><string>x</string><dict/></array>\n"
      "</dict>\n</plist>\n");
  EXPECT_EQ(v, dict({{"s", Value("text")},
                     {"i", Value::integer(-42)},
                     {"r", Value::real(2.5)},
                     {"t", Value::boolean(true)},
                     {"f", Value::boolean(false)},
                     {"d", Value(Data{0, 1, 2})},
                     {"when", Value(Date{86401.0})},
                     {"a", Value(Array{Value("x"), Value(Dictionary{})})}}));
}

TEST(XmlReader, ReadsTextExactlyWithEntitiesAndCdata) {
  // No line-end normalisation, no trimming: CR, CRLF, tabs and control
  // characters come back as they were written.
  std::string text = "  line one\r\nline two\rthree\n\t\x01\x1F end  ";
  EXPECT_EQ(*parseBody("<string>" + text + "</string>").asString(), text);
  expectBodies({
      {"<dict><key>a\r\nb</key><string/></dict>", dict({{"a\r\nb", Value("")}})},
      {"<string>caf\xC3\xA9 \xF0\x9F\x98\x80</string>", Value("caf\xC3\xA9 \xF0\x9F\x98\x80")},
      {"<string>&lt;&gt;&amp;&apos;&quot;</string>", Value("<>&'\"")},
      {"<string>&#65;&#x42;&#x00000043;&#xe9;&#x1F600;</string>", Value("ABC\xC3\xA9\xF0\x9F\x98\x80")},
      {"<string>a&#0;b</string>", Value(std::string("a\0b", 3))},
      {"<dict><key>&amp;k</key><true/></dict>", dict({{"&k", Value::boolean(true)}})},
      {"<real>&#49;.5</real>", Value::real(1.5)},  // entities are read in <real>, not in <integer>
      {"<string>a<![CDATA[<b>&amp;]]>c</string>", Value("a<b>&amp;c")},
      {"<dict><key><![CDATA[k]]></key><string/></dict>", dict({{"k", Value("")}})},
      {"<real><![CDATA[0.25]]></real>", Value::real(0.25)},
  });
}

TEST(XmlReader, ReadsEmptyFormsAndKeysOutsideKeyPlaces) {
  expectBodies({
      {"<array/>", Value(Array{})},
      {"<dict/>", Value(Dictionary{})},
      {"<dict></dict>", Value(Dictionary{})},
      {"<string/>", Value("")},
      {"<string></string>", Value("")},
      {"<true></true>", Value::boolean(true)},
      {"<false> </false>", Value::boolean(false)},
      {"<dict><key/><true/></dict>", dict({{"", Value::boolean(true)}})},
      // <key> where no key is due is a string.
      {"<array><key>k</key></array>", Value(Array{Value("k")})},
      {"<dict><key>a</key><key>v</key></dict>", dict({{"a", Value("v")}})},
  });
  EXPECT_EQ(parse("<key>top</key>"), Value("top"));
}

TEST(XmlReader, SkipsMarkupAroundTheRootAndIgnoresWhatFollowsIt) {
  expectDocuments({
      {"\xEF\xBB\xBF \r\n<?xml version=\"1.0\"?><!-- note --><!DOCTYPE plist SYSTEM \"x.dtd\">"
       "<?pi stuff?><plist><!-- a --><array> <?pi?> <!-- b --><true/>\n<!-- c --></array><!-- d --></plist>",
       Value(Array{Value::boolean(true)})},
      // The platform looks for the end of a prolog comment one character
      // late, so "<!--->" does not end there and "<!---><!-->" is one comment.
      {"<!---><!--><true/>", Value::boolean(true)},
      // Attributes are ignored, including those of closing-empty tags.
      {"<plist version=\"9\" x='y'><true a=\"1\" /></plist>", Value::boolean(true)},
      {"<dict><key>a</key><integer>1</integer></dict>", dict({{"a", Value::integer(1)}})},
      {"<string>x</string> trailing <junk> & more", Value("x")},
      {"<plist><true/></plist><plist><false/></plist>", Value::boolean(true)},
  });
}

TEST(XmlReader, LastDuplicateKeyWins) {
  EXPECT_EQ(parseBody("<dict><key>a</key><integer>1</integer><key>b</key><true/>"
                      "<key>a</key><integer>2</integer></dict>"),
            dict({{"a", Value::integer(2)}, {"b", Value::boolean(true)}}));
}

TEST(XmlReader, ReadsUidDictionaries) {
  expectBodies({
      {"<dict><key>CF$UID</key><integer>7</integer></dict>", Value(Uid{7})},
      {"<dict><key>CF$UID</key><integer>4294967295</integer></dict>", Value(Uid{4294967295u})},
      {"<dict><key>CF$UID</key><real>3</real></dict>", Value(Uid{3})},
  });
  // Not references: other values, numbers outside 32 bits, a second member.
  for (std::string_view body : {"<dict><key>CF$UID</key><string>7</string></dict>",
                                "<dict><key>CF$UID</key><integer>4294967296</integer></dict>",
                                "<dict><key>CF$UID</key><integer>-1</integer></dict>",
                                "<dict><key>CF$UID</key><real>1.5</real></dict>",
                                "<dict><key>CF$UID</key><integer>1</integer><key>x</key><true/></dict>"}) {
    EXPECT_NE(parseBody(body).asDictionary(), nullptr) << body;
  }
}

TEST(XmlReader, ParsesIntegers) {
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  expectElements("integer")({
      {"0", Value::integer(0)},
      {"-0", Value::integer(0)},
      {"+17", Value::integer(17)},
      {"007", Value::integer(7)},
      {"0x1F", Value::integer(31)},
      {"0XfF", Value::integer(255)},
      {"-0x10", Value::integer(-16)},
      {"- 5", Value::integer(-5)},
      {" \t\n\r\x01\x7F 12", Value::integer(12)},
      {"\xE2\x80\x80\xE2\x80\x8B\xE2\x80\xAF\xE2\x81\x9F\xE3\x80\x80 3", Value::integer(3)},
      {"9223372036854775807", Value::integer(std::numeric_limits<std::int64_t>::max())},
      {"-9223372036854775808", Value::integer(kMin)},
      {"-0x8000000000000000", Value::integer(kMin)},
      {"9223372036854775808", Value(Integer::ofUnsigned(0x8000'0000'0000'0000ull))},
      {"18446744073709551615", Value(Integer::ofUnsigned(~0ull))},
      {"0xFFFFFFFFFFFFFFFF", Value(Integer::ofUnsigned(~0ull))},
      {"000000000000000000000000000001", Value::integer(1)},
  });
}

TEST(XmlReader, ParsesReals) {
  const Value inf = Value::real(std::numeric_limits<double>::infinity());
  const Value minusInf = Value::real(-std::numeric_limits<double>::infinity());
  expectElements("real")({
      {"1", Value::real(1.0)},
      {"-2.5e3", Value::real(-2500.0)},
      {".5", Value::real(0.5)},
      {"5.", Value::real(5.0)},
      {"+1E-2", Value::real(0.01)},
      {" \t7", Value::real(7.0)},
      {"0.1", Value::real(0.1)},
      {"-0", Value::real(-0.0)},
      {"1e400", inf},
      {"4.9e-324", Value::real(4.9e-324)},
      {"inf", inf},
      {"+Inf", inf},
      {"-INF", minusInf},
      {"Infinity", inf},
      {"+infinity", inf},
      {"-Infinity", minusInf},
  });
  EXPECT_TRUE(std::isnan(*parseBody("<real>NaN</real>").asReal()));
}

TEST(XmlReader, ParsesDatesWithThePlatformArithmetic) {
  auto at = [](double seconds) { return Value(Date{seconds}); };
  expectElements("date")({
      {"2001-01-01T00:00:00Z", at(0.0)},
      {"2001-01-01T00:00:01Z", at(1.0)},
      {"2000-12-31T23:59:59Z", at(-1.0)},
      {"1970-01-01T00:00:00Z", at(-978307200.0)},
      {"2024-02-29T12:34:56Z", at(730902896.0)},
      {"1900-03-01T00:00:00Z", at(-3182198400.0)},
      {"0000-12-30T00:00:00Z", at(-63114076800.0)},  // the platform's distant past
      {"4001-01-01T00:00:00Z", at(63113904000.0)},   // its distant future
      {"0000-01-01T00:00:00Z", at(-63145526400.0)},
      {"-0001-01-01T00:00:00Z", at(-63177062400.0)},
      {"10000-01-01T00:00:00Z", at(252423993600.0)},
      // No range checks: fields fold into the next unit.
      {"2001-01-00T00:00:00Z", at(-86400.0)},
      {"2001-01-01T24:00:00Z", at(86400.0)},
      {"2001-01-01T00:99:99Z", at(99 * 60 + 99.0)},
      {"2001-13-01T00:00:00Z", at(365 * 86400.0)},
      {"2001-00-01T00:00:00Z", at(0.0)},
      {"2001-99-01T00:00:00Z", at(0.0)},
      {"2001-02-31T00:00:00Z", at((31 + 30) * 86400.0)},
  });
  EXPECT_EQ(parseBody("<date>2147483647-01-01T00:00:00Z</date>").kind(), Kind::Date);  // the largest year
}

TEST(XmlReader, RejectsBadNumbersAndDates) {
  expectErrors({
      {"<integer>18446744073709551616</integer>", "out of range"},
      {"<integer>0x10000000000000000</integer>", "out of range"},
      {"<integer>-9223372036854775809</integer>", "out of range"},
      {"<integer>12 </integer>", "invalid <integer> \"12 \""},
      {"<integer>&#49;</integer>", "invalid <integer>"},
      {"<integer>0x</integer>", "invalid <integer>"},
      {"<integer></integer>", "invalid <integer>"},
      {"<integer>\xC2\xA0 1</integer>", "invalid <integer>"},  // no-break space is not skipped
      {"<integer>0x1G</integer>", "invalid <integer>"},
      {"<integer/>", "empty <integer/>"},
      {"<integer>1</integer >x", "(no error)"},
      {"<real></real>", "invalid <real> \"\""},
      {"<real/>", "empty <real/>"},
      {"<real>0x1p3</real>", "invalid <real>"},
      {"<real>-nan</real>", "invalid <real>"},
      {"<real>1e</real>", "invalid <real>"},
      {"<real>.</real>", "invalid <real>"},
      {"<real>infinityx</real>", "invalid <real>"},
      {"<date>2001-01-01T00:00:00.5Z</date>", "invalid <date>"},
      {"<date>2001-01-01T00:00:00+01:00</date>", "invalid <date>"},
      {"<date>2001-01-01T00:00:00</date>", "invalid <date>"},
      {"<date> 2001-01-01T00:00:00Z</date>", "invalid <date>"},
      {"<date>2001-1-01T00:00:00Z</date>", "invalid <date>"},
      {"<date>2001/01/01T00:00:00Z</date>", "invalid <date>"},  // right length, wrong separator
      {"<date>2147483648-01-01T00:00:00Z</date>", "year out of range"},
      {"<date>99999999999999999999-01-01T00:00:00Z</date>", "year out of range"},
      {"<date/>", "empty <date/>"},
  });
}

TEST(XmlReader, DecodesBase64LikeThePlatform) {
  const Value hello(Data{'H', 'e', 'l', 'l', 'o'});
  expectElements("data")({
      {"SGVsbG8=", hello},
      {"\n\tSGVs\n\tbG8=\n", hello},
      {"S!G&V;s b#G*8=", hello},  // other ASCII skipped
      {"QQ==", Value(Data{'A'})},
      {"QUI=", Value(Data{'A', 'B'})},
      {"QUJD", Value(Data{'A', 'B', 'C'})},
      {"QUJDRA", Value(Data{'A', 'B', 'C'})},  // incomplete last quartet dropped
      {"Q", Value(Data{})},
      {"", Value(Data{})},
      {"====", Value(Data{0})},  // '=' is a zero digit that trims its quartet
      {"QQ==QUI=", Value(Data{'A', 'A', 'B'})},
  });
  expectErrors({
      {"<data>QU\xC3\xA9I=</data>", "not base64"},
      {"<data/>", "empty <data/>"},
      {"<data>QUJD", "unterminated element"},
      {"<data>QUJD<![CDATA[x]]></data>", "expected </data>"},
  });
}

TEST(XmlReader, RejectsMalformedDocuments) {
  expectErrors({
      {"", "no root element"},
      {"hello", "text before the root element"},
      {"<foo/>", "unknown tag <foo>"},
      {"<Dict/>", "unknown tag <Dict>"},
      {"< dict/>", "unknown tag <>"},
      {"<true", "unterminated tag <true"},
      {"<plist/>", "<plist/> holds no object"},
      {"<plist></plist>", "<plist> holds no object"},
      {"<plist><true/><false/></plist>", "<plist> holds more than one object"},
      {"<plist><plist><true/></plist></plist>", "<plist> inside another element"},
      {"<plist><true/>", "expected </plist>"},
      {"<dict><string>a</string></dict>", "expected <key>, found <string>"},
      {"<dict><key>a</key></dict>", "key \"a\" has no value"},
      {"<dict><key>a</key>", "key \"a\" has no value"},
      {"<dict><key>a</key><true/></array>", "expected </dict>"},
      {"<array><string>a</array>", "expected </string>"},
      {"<array>", "unterminated <array>"},
      {"<array>text</array>", "unexpected text \"text\""},
      {"<array><![CDATA[x]]></array>", "unexpected <! markup"},
      {"<string>abc", "unterminated <string>"},
      {"<string>a<b/></string>", "unexpected markup inside <string>"},
      {"<string><![CDATA[x</string>", "unterminated CDATA section"},
      {"<string>&LT;</string>", "unknown entity &LT;"},
      {"<string>a & b</string>", "unterminated entity reference"},
      {"<string>&#X41;</string>", "malformed character reference &#X41;"},
      {"<string>&#x;</string>", "malformed character reference"},
      {"<string>&#x123456789;</string>", "malformed character reference"},
      {"<string>&#x110000;</string>", "is not a Unicode character"},
      {"<string>&#xD800;</string>", "is not a Unicode character"},
      {"<true>x</true>", "expected </true>"},
      {"<![CDATA[x]]><true/>", "unexpected <! before the root element"},
      {"<!---->\n<true/>", "unterminated comment"},
      {"<?xml version=\"1.0\"", "unterminated processing instruction"},
      {"<!DOCTYPE plist", "unterminated DOCTYPE"},
      {"<!DOCTYPE plist [<!ENTITY x \"y\">]><plist><string>&x;</string></plist>",
       "DOCTYPE internal subsets are not supported"},
      {"<plist>\n<dict>\n\t<key>a</key>\n\t<foo/>\n</dict>\n</plist>",
       "XML plist: line 4: unknown tag <foo>"},
  });
}

TEST(XmlReader, RejectsInvalidUtf8InText) {
  expectErrors({
      {"<string>\xFF</string>", "line 1: text is not valid UTF-8"},
      {"<string>\xED\xA0\x80</string>", "not valid UTF-8"},  // a surrogate
      {"<dict><key>\x80</key><true/></dict>", "not valid UTF-8"},
      {"<string><![CDATA[\xFE]]></string>", "not valid UTF-8"},
  });
  // Bytes that never become a string are not looked at, as on the platform.
  EXPECT_EQ(parse("<!-- \xFF --><true/>"), Value::boolean(true));
}

TEST(XmlReader, LimitsNestingTo512) {
  auto nested = [](int depth) {
    std::string s;
    for (int i = 0; i < depth; ++i) s += i % 2 ? "<dict><key>k</key>" : "<array>";
    s += "<true/>";
    for (int i = depth - 1; i >= 0; --i) s += i % 2 ? "</dict>" : "</array>";
    return s;
  };
  EXPECT_NO_THROW(parse(nested(512)));
  // Deep input is refused before it can exhaust the stack.
  std::string deep;
  for (int i = 0; i < 100'000; ++i) deep += "<array>";
  expectErrors({{nested(513), "too many nested arrays or dictionaries"}, {deep, "too many nested"}});
}

// `ascii` in UTF-16 (width 2) or UTF-32 (width 4), with or without a byte-order mark.
std::string wide(std::string_view ascii, std::size_t width, bool bigEndian, bool mark) {
  std::string out;
  auto unit = [&](char32_t u) {
    for (std::size_t i = 0; i < width; ++i) {
      std::size_t shift = 8 * (bigEndian ? width - 1 - i : i);
      out += static_cast<char>((u >> shift) & 0xFF);
    }
  };
  if (mark) unit(0xFEFF);
  for (char c : ascii) unit(static_cast<unsigned char>(c));
  return out;
}

TEST(XmlReader, ConvertsUtf16AndUtf32Documents) {
  const std::string doc = "<plist><string>hi</string></plist>";
  // Marked, and unmarked: a NUL among the first two bytes means UTF-16.
  for (bool bigEndian : {true, false}) {
    for (bool mark : {true, false}) EXPECT_EQ(parse(wide(doc, 2, bigEndian, mark)), Value("hi"));
    EXPECT_EQ(parse(wide("<true/>", 4, bigEndian, true)), Value::boolean(true));
  }
  // A pair becomes one code point; é in UTF-16LE.
  EXPECT_EQ(parse(std::string("\xFF\xFE<\0k\0e\0y\0>\0\x3D\xD8\x00\xDE\xE9\0<\0/\0k\0e\0y\0>\0", 30)),
            Value("\xF0\x9F\x98\x80\xC3\xA9"));
  expectErrors({
      {std::string_view("\xFE\xFF\0<\xD8\x00", 6), "byte 4: text is not valid UTF-16"},  // lone surrogate
      {std::string_view("\xFE\xFF\0<\0", 5), "byte 4: text is not valid UTF-16"},        // odd length
  });
}

TEST(XmlReader, HonoursTheDeclaredEncoding) {
  expectDocuments({
      {"<?xml version=\"1.0\" encoding=\"utf-8\"?><string>\xC3\xA9</string>", Value("\xC3\xA9")},
      {"<?xml version='1.0' encoding='UTF-8'?><true/>", Value::boolean(true)},
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><string>\xE9</string>", Value("\xC3\xA9")},
      {"<?xml version=\"1.0\" encoding=\"US-ASCII\"?><string>a</string>", Value("a")},
  });
  expectErrors({
      {"<?xml version=\"1.0\" encoding=\"EBCDIC-US\"?><true/>", "unsupported encoding \"ebcdic-us\""},
      {"<?xml version=\"1.0\" encoding=\"UTF-16\"?><true/>", "unsupported encoding \"utf-16\""},
      {"<?xml version=\"1.0\" encoding=\"us-ascii\"?><string>\xC3\xA9</string>", "not US-ASCII"},
  });
  // A byte-order mark decides over the declaration, as on the platform.
  EXPECT_EQ(parse(wide("<?xml version=\"1.0\" encoding=\"UTF-16\"?><true/>", 2, true, true)),
            Value::boolean(true));
}

}  // namespace
}  // namespace zeph::plist
