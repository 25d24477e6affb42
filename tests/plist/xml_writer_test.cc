#include "plist/internal/xml_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>

#include "plist/error.h"
#include "plist/internal/xml_reader.h"

namespace zeph::plist {
namespace {

constexpr std::string_view kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

std::string written(const Value& v) {
  auto bytes = writeXml(v);
  return std::string(bytes.begin(), bytes.end());
}

// The text between the header and the closing "</plist>\n".
std::string body(const Value& v) {
  std::string s = written(v);
  EXPECT_TRUE(s.starts_with(kHeader));
  EXPECT_TRUE(s.ends_with("</plist>\n"));
  return s.substr(kHeader.size(), s.size() - kHeader.size() - 9);
}

Value dict(std::vector<Dictionary::Member> members) {
  return Value(Dictionary::fromMembers(std::move(members), DuplicateKeys::KeepLast));
}

std::string errorOf(const Value& v) {
  try {
    writeXml(v);
  } catch (const Error& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(XmlWriter, WritesThePlatformLayout) {
  Value doc = dict({
      {"name", Value("zeph <1> & \"co\"")},
      {"count", Value::integer(3)},
      {"list", Value(Array{Value::boolean(true), Value::boolean(false), Value::real(1.5), Value(Array{}),
                           Value(Dictionary{})})},
      {"blob", Value(Data{0, 1, 2})},
      {"when", Value(Date{0})},
      {"ref", Value(Uid{5})},
      {"empty", Value("")},
  });
  EXPECT_EQ(written(doc), std::string(kHeader) +
                              "<dict>\n"
                              "\t<key>blob</key>\n"
                              "\t<data>\n"
                              "\tAAEC\n"
                              "\t</data>\n"
                              "\t<key>count</key>\n"
                              "\t<integer>3</integer>\n"
                              "\t<key>empty</key>\n"
                              "\t<string></string>\n"
                              "\t<key>list</key>\n"
                              "\t<array>\n"
                              "\t\t<true/>\n"
                              "\t\t<false/>\n"
                              "\t\t<real>1.5</real>\n"
                              "\t\t<array/>\n"
                              "\t\t<dict/>\n"
                              "\t</array>\n"
                              "\t<key>name</key>\n"
                              "\t<string>zeph &lt;1&gt; &amp; \"co\"</string>\n"
                              "\t<key>ref</key>\n"
                              "\t<dict>\n"
                              "\t\t<key>CF$UID</key>\n"
                              "\t\t<integer>5</integer>\n"
                              "\t</dict>\n"
                              "\t<key>when</key>\n"
                              "\t<date>2001-01-01T00:00:00Z</date>\n"
                              "</dict>\n"
                              "</plist>\n");
  EXPECT_EQ(body(Value("top")), "<string>top</string>\n");
  EXPECT_EQ(body(Value(Array{})), "<array/>\n");
}

TEST(XmlWriter, WritesControlCharactersAndLineEndsRaw) {
  EXPECT_EQ(body(Value("a\r\nb\t'\"\x01")), "<string>a\r\nb\t'\"\x01</string>\n");
  EXPECT_EQ(body(dict({{"k<&>", Value::boolean(true)}})),
            "<dict>\n\t<key>k&lt;&amp;&gt;</key>\n\t<true/>\n</dict>\n");
}

TEST(XmlWriter, WrapsDataByIndent) {
  // 76 characters a line at the top, 8 fewer a level, never fewer than 12;
  // the lines sit at the indent of <data> itself.
  Data bytes(100);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  Value nested(bytes);
  for (std::size_t depth = 0; depth <= 10; ++depth) {
    std::istringstream lines(body(nested));
    std::string line;
    for (std::size_t i = 0; i <= depth; ++i) std::getline(lines, line);  // past the arrays
    std::string tabs(depth, '\t');
    ASSERT_EQ(line, tabs + "<data>") << depth;
    std::size_t width = 76 - 8 * std::min<std::size_t>(depth, 8);
    std::size_t total = 0;
    while (std::getline(lines, line) && line != tabs + "</data>") {
      ASSERT_TRUE(line.starts_with(tabs)) << depth;
      std::size_t chars = line.size() - depth;
      total += chars;
      if (total < 136) {
        EXPECT_EQ(chars, width) << depth;  // all lines but the last are full
      }
    }
    EXPECT_EQ(total, 136u) << depth;  // 100 bytes → 34 quartets, padded
    EXPECT_EQ(line, tabs + "</data>");
    nested = Value(Array{nested});
  }
  EXPECT_EQ(body(Value(Data{})), "<data>\n</data>\n");
  EXPECT_EQ(body(Value(Data{'A'})), "<data>\nQQ==\n</data>\n");
}

TEST(XmlWriter, WritesNumbersInThePlatformSpelling) {
  auto integer = [](Integer i) { return body(Value(i)); };
  EXPECT_EQ(integer(Integer::of(-1)), "<integer>-1</integer>\n");
  EXPECT_EQ(integer(Integer::of(std::numeric_limits<std::int64_t>::min())),
            "<integer>-9223372036854775808</integer>\n");
  EXPECT_EQ(integer(Integer::ofUnsigned(~0ull)), "<integer>18446744073709551615</integer>\n");
  auto real = [](double r) {
    std::string s = body(Value::real(r));
    return s.substr(6, s.size() - 6 - 8);
  };
  EXPECT_EQ(real(0.1), "0.10000000000000001");
  EXPECT_EQ(real(1.0), "1");
  EXPECT_EQ(real(-2.5), "-2.5");
  EXPECT_EQ(real(1e300), "1.0000000000000001e+300");
  EXPECT_EQ(real(1e-7), "9.9999999999999995e-08");
  EXPECT_EQ(real(static_cast<double>(0.1f)), "0.10000000149011612");
  EXPECT_EQ(real(0.0), "0.0");
  EXPECT_EQ(real(-0.0), "-0.0");  // the platform drops the sign; we keep it
  EXPECT_EQ(real(std::numeric_limits<double>::quiet_NaN()), "nan");
  EXPECT_EQ(real(std::numeric_limits<double>::infinity()), "+infinity");
  EXPECT_EQ(real(-std::numeric_limits<double>::infinity()), "-infinity");
}

TEST(XmlWriter, WritesDatesFlooredToSeconds) {
  auto date = [](double s) {
    std::string b = body(Value(Date{s}));
    return b.substr(6, b.size() - 6 - 8);
  };
  EXPECT_EQ(date(0.999), "2001-01-01T00:00:00Z");
  EXPECT_EQ(date(-0.5), "2000-12-31T23:59:59Z");
  EXPECT_EQ(date(-978307200.0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(date(730902896.0), "2024-02-29T12:34:56Z");
  EXPECT_EQ(date(-63114076800.0), "0000-12-30T00:00:00Z");  // the platform's distant past
  EXPECT_EQ(date(-63177062400.0), "-001-01-01T00:00:00Z");  // "%04d" of −1
  EXPECT_EQ(date(252423993600.0), "10000-01-01T00:00:00Z");
  EXPECT_NE(errorOf(Value(Date{std::nan("")})).find("has no calendar form"), std::string::npos);
  EXPECT_NE(errorOf(Value(Date{1e300})).find("has no calendar form"), std::string::npos);
}

TEST(XmlWriter, SortsKeysInUtf16Order) {
  // U+FF21 (fullwidth A) sorts after U+1F600 in UTF-16 but before it in UTF-8.
  Value d = dict({{"\xEF\xBC\xA1", Value::integer(1)},
                  {"\xF0\x9F\x98\x80", Value::integer(2)},
                  {"b", Value::integer(3)},
                  {"B", Value::integer(4)},
                  {"", Value::integer(5)},
                  {"\xEE\x80\x80", Value::integer(6)},  // U+E000
                  {"\xED\x9F\xBF", Value::integer(7)},  // U+D7FF
                  {"\xC3\xA9", Value::integer(8)}});
  std::string s = body(d);
  std::vector<std::string> keys;
  for (std::size_t at = s.find("<key>"); at != std::string::npos; at = s.find("<key>", at + 1)) {
    keys.push_back(s.substr(at + 5, s.find("</key>", at) - at - 5));
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"", "B", "b", "\xC3\xA9", "\xED\x9F\xBF", "\xF0\x9F\x98\x80",
                                            "\xEE\x80\x80", "\xEF\xBC\xA1"}));
}

TEST(XmlWriter, RefusesWhatXmlCannotCarry) {
  EXPECT_NE(errorOf(Value("ab\xED\xA0\x80")).find("lone UTF-16 surrogate"), std::string::npos);
  EXPECT_NE(errorOf(Value("\xFF")).find("not valid UTF-8"), std::string::npos);
  EXPECT_NE(errorOf(dict({{"\xC3", Value("x")}})).find("not valid UTF-8"), std::string::npos);
  EXPECT_NE(errorOf(Value(Uid{4294967296u})).find("UID 4294967296 does not fit"), std::string::npos);
  Value deep(Array{Value::integer(1)});
  for (int i = 0; i < 600; ++i) deep = Value(Array{deep});
  EXPECT_NE(errorOf(deep).find("nested too deeply"), std::string::npos);
  // Shared arrays nested 40 deep would spell out 2^40 items.
  Value shared(Array{Value("x")});
  for (int i = 0; i < 40; ++i) shared = Value(Array{shared, shared});
  EXPECT_NE(errorOf(shared).find("larger than 1 GiB"), std::string::npos);
}

TEST(XmlWriter, RoundTripsEveryKind) {
  Data bytes(300);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i);
  const Value values[] = {
      Value(""),
      Value("plain"),
      Value("<&>'\" \r\n\r \t\x01 caf\xC3\xA9 \xF0\x9F\x98\x80 ]]> &amp;"),
      Value(std::string("nul\0inside", 10)),
      Value::integer(0),
      Value::integer(-1),
      Value(Integer::of(std::numeric_limits<std::int64_t>::min())),
      Value(Integer::ofUnsigned(0x8000'0000'0000'0000ull)),
      Value(Integer::ofUnsigned(~0ull)),
      Value::real(0.1),
      Value::real(-0.0),
      Value::real(0.0),
      Value::real(5e-324),
      Value::real(std::numeric_limits<double>::max()),
      Value::real(std::numeric_limits<double>::infinity()),
      Value::real(-std::numeric_limits<double>::infinity()),
      Value::boolean(true),
      Value::boolean(false),
      Value(Date{0}),
      Value(Date{-63114076800.0}),
      Value(Date{1e12}),
      Value(Data{}),
      Value(bytes),
      Value(Uid{0}),
      Value(Uid{4294967295u}),
      Value(Array{}),
      Value(Dictionary{}),
      dict({{"CF$UID", Value("not a reference")}}),
      dict({{"a", Value(Array{Value(Array{Value(Data{1})}), dict({{"\xF0\x9F\x98\x80", Value("x")}})})},
            {"\xEF\xBC\xA1", Value::integer(2)}}),
  };
  for (const Value& v : values) {
    auto bytesOut = writeXml(v);
    EXPECT_EQ(readXml(bytesOut), v) << std::string(bytesOut.begin(), bytesOut.end());
    // Inside a dictionary too, where the indent differs.
    Value wrapped = dict({{"k", v}});
    EXPECT_EQ(readXml(writeXml(wrapped)), wrapped);
  }
  std::vector<std::uint8_t> nan = writeXml(Value::real(std::nan("")));
  EXPECT_TRUE(std::isnan(*readXml(nan).asReal()));
}

}  // namespace
}  // namespace zeph::plist

namespace zeph::plist {
namespace {

std::vector<std::vector<std::uint8_t>> streamed(const Value& v) {
  std::vector<std::vector<std::uint8_t>> pieces;
  writeXml(
      v, [&pieces](std::span<const std::uint8_t> piece) { pieces.emplace_back(piece.begin(), piece.end()); });
  return pieces;
}

TEST(XmlWriter, StreamsTheSameBytesInPieces) {
  Data blob(300'000);
  for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<std::uint8_t>(i * 31 + i / 7);
  Array many;
  for (int i = 0; i < 5000; ++i) many.push_back(Value("item <" + std::to_string(i) + "> & more"));
  const Value doc = dict({
      {"blob", Value(blob)},
      {"deeper", Value(Array{Value(Array{Value(blob)})})},  // other line widths
      {"long", Value(std::string(200'000, 'y'))},           // longer than a piece
      {"many", Value(std::move(many))},
      {"when", Value(Date{1e9})},
  });
  const std::vector<std::uint8_t> whole = writeXml(doc);
  const auto pieces = streamed(doc);
  EXPECT_GT(pieces.size(), 5u);
  std::vector<std::uint8_t> joined;
  for (const auto& piece : pieces) {
    EXPECT_FALSE(piece.empty());
    joined.insert(joined.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(joined, whole);
  EXPECT_EQ(readXml(joined), doc);
}

// Everything that keeps a document from being written is found before the
// first byte goes out, however much text comes before it.
TEST(XmlWriter, StreamsNothingOfADocumentItCannotWrite) {
  Array before;
  for (int i = 0; i < 20000; ++i) before.push_back(Value("fine text number " + std::to_string(i)));
  Value deep(Array{Value::integer(1)});
  for (int i = 0; i < 600; ++i) deep = Value(Array{deep});
  Value shared(Array{Value("x")});
  for (int i = 0; i < 40; ++i) shared = Value(Array{shared, shared});
  const struct {
    const char* what;
    Value last;
    const char* error;
  } cases[] = {
      {"bad UTF-8", Value("\xFF"), "not valid UTF-8"},
      {"lone surrogate", Value("ab\xED\xA0\x80"), "lone UTF-16 surrogate"},
      {"bad key", dict({{"\xC3", Value("x")}}), "not valid UTF-8"},
      {"wide UID", Value(Uid{4294967296u}), "does not fit"},
      {"date", Value(Date{1e300}), "no calendar form"},
      {"deep", deep, "nested too deeply"},
      {"shared", shared, "larger than 1 GiB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Array items = before;
    items.push_back(c.last);
    int calls = 0;
    try {
      writeXml(dict({{"items", Value(std::move(items))}}),
               [&calls](std::span<const std::uint8_t>) { ++calls; });
      ADD_FAILURE() << "written";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
    }
    EXPECT_EQ(calls, 0);
  }
}

}  // namespace
}  // namespace zeph::plist
