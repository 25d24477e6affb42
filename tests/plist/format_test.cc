#include "plist/format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "plist/error.h"

namespace zeph::plist {
namespace {

std::span<const std::uint8_t> bytesOf(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string errorOf(std::string_view s) {
  try {
    read(bytesOf(s));
  } catch (const Error& e) {
    return e.what();
  }
  return "(no error)";
}

Value sample() {
  Dictionary d;
  d.set("Idle", Value("x"));
  d.set("n", Value::integer(-3));
  return Value(d);
}

TEST(Format, DetectsBinaryThenXmlThenOldStyleWhenXmlFails) {
  for (Format written : {Format::Binary, Format::Xml}) {
    std::vector<std::uint8_t> bytes = write(sample(), written);
    Format f = Format::OpenStep;
    EXPECT_EQ(read(bytes, &f), sample());
    EXPECT_EQ(f, written);
  }
  const Value ab(Dictionary::fromMembers({{"a", Value("b")}}, DuplicateKeys::KeepLast));
  struct Case {
    std::string_view text;
    Format format;
    Value value;
  } cases[] = {
      {" \r\n\t<dict><key>a</key><string>b</string></dict>", Format::Xml, ab},
      {"{ a = b; }", Format::OpenStep, ab},
      // Text that fails as XML falls back to the old-style reader: "<abcd>"
      // is no XML tag the platform knows, so it is old-style data.
      {"<abcd>", Format::OpenStep, Value(Data{0xAB, 0xCD})},
      {"  <00 ff>\n", Format::OpenStep, Value(Data{0x00, 0xFF})},
      // UTF-16 with a mark that is not XML goes on to the old-style reader.
      {std::string_view("\xFF\xFE(\0x\0)\0", 8), Format::OpenStep, Value(Array{Value("x")})},
      // "bplist00" without a valid trailer is not binary; as text it is a bare word.
      {"bplist00", Format::OpenStep, Value("bplist00")},
      // Only white space is not empty: the old-style reader makes it an empty dictionary.
      {" \n", Format::OpenStep, Value(Dictionary{})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
    Format f = Format::Binary;
    EXPECT_EQ(read(bytesOf(c.text), &f), c.value);
    EXPECT_EQ(f, c.format);
  }
}

TEST(Format, ReportsTheXmlErrorForBrokenXml) {
  EXPECT_NE(
      errorOf("<plist><dict><key>a</key></dict></plist>").find("XML plist: line 1: key \"a\" has no value"),
      std::string::npos);
  EXPECT_NE(errorOf("<?xml version=\"1.0\"?>\n<plist>\n<foo/>").find("XML plist: line 3: unknown tag <foo>"),
            std::string::npos);
  // Text that never looked like XML gets the old-style reader's error.
  EXPECT_NE(errorOf("{ a = b }").find("old-style plist"), std::string::npos);
}

TEST(Format, RejectsEmptyInputAndOldStyleWriting) {
  EXPECT_EQ(errorOf(""), "property list: the document is empty");
  EXPECT_THROW(write(sample(), Format::OpenStep), Error);
  EXPECT_THROW(write(sample(), Format::OpenStep, [](std::span<const std::uint8_t>) {}), Error);
}

// Written through a sink, each format gives the bytes write() returns.
TEST(Format, WritesThroughASinkTheSameBytes) {
  for (Format format : {Format::Binary, Format::Xml}) {
    std::vector<std::uint8_t> joined;
    write(sample(), format, [&joined](std::span<const std::uint8_t> piece) {
      joined.insert(joined.end(), piece.begin(), piece.end());
    });
    EXPECT_EQ(joined, write(sample(), format));
  }
}

}  // namespace
}  // namespace zeph::plist
