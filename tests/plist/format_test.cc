#include "plist/format.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "plist/error.h"

namespace zeph::plist {
namespace {

std::span<const std::uint8_t> bytesOf(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

struct Detected {
  Value value;
  Format format;
};

Detected readText(std::string_view s) {
  Format f = Format::Binary;
  Value v = read(bytesOf(s), &f);
  return {v, f};
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

TEST(Format, DetectsBinaryThenXmlThenOldStyle) {
  for (Format written : {Format::Binary, Format::Xml}) {
    std::vector<std::uint8_t> bytes = write(sample(), written);
    Format f = Format::OpenStep;
    EXPECT_EQ(read(bytes, &f), sample());
    EXPECT_EQ(f, written);
  }
  Detected xml = readText(" \r\n\t<dict><key>a</key><string>b</string></dict>");
  EXPECT_EQ(xml.format, Format::Xml);
  EXPECT_EQ(*member(xml.value, "a"), Value("b"));
  Detected old = readText("{ a = b; }");
  EXPECT_EQ(old.format, Format::OpenStep);
  EXPECT_EQ(*member(old.value, "a"), Value("b"));
}

TEST(Format, FallsBackToOldStyleWhenXmlFails) {
  // "<abcd>" is no XML tag the platform knows, so it is old-style data.
  Detected data = readText("<abcd>");
  EXPECT_EQ(data.format, Format::OpenStep);
  EXPECT_EQ(data.value, Value(Data{0xAB, 0xCD}));
  Detected spaced = readText("  <00 ff>\n");
  EXPECT_EQ(spaced.format, Format::OpenStep);
  EXPECT_EQ(spaced.value, Value(Data{0x00, 0xFF}));
  // UTF-16 with a mark that is not XML goes on to the old-style reader.
  Detected wide = readText(std::string_view("\xFF\xFE(\0x\0)\0", 8));
  EXPECT_EQ(wide.format, Format::OpenStep);
  EXPECT_EQ(wide.value, Value(Array{Value("x")}));
  // "bplist00" without a valid trailer is not binary; as text it is a bare word.
  Detected word = readText("bplist00");
  EXPECT_EQ(word.format, Format::OpenStep);
  EXPECT_EQ(word.value, Value("bplist00"));
}

TEST(Format, ReportsTheXmlErrorForBrokenXml) {
  EXPECT_NE(errorOf("<plist><dict><key>a</key></dict></plist>").find("XML plist: line 1: key \"a\" has no value"),
            std::string::npos);
  EXPECT_NE(errorOf("<?xml version=\"1.0\"?>\n<plist>\n<foo/>").find("XML plist: line 3: unknown tag <foo>"),
            std::string::npos);
  // Text that never looked like XML gets the old-style reader's error.
  EXPECT_NE(errorOf("{ a = b }").find("old-style plist"), std::string::npos);
  EXPECT_NE(errorOf("property list: the document is empty").find("old-style plist"), std::string::npos);
}

TEST(Format, RejectsEmptyInputAndOldStyleWriting) {
  EXPECT_EQ(errorOf(""), "property list: the document is empty");
  // Only white space is not empty: the old-style reader makes it an empty dictionary.
  EXPECT_EQ(readText(" \n").value, Value(Dictionary{}));
  EXPECT_THROW(write(sample(), Format::OpenStep), Error);
}

}  // namespace
}  // namespace zeph::plist
