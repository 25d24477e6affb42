#include "plist/internal/binary_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "plist/error.h"
#include "plist/internal/binary_reader.h"
#include "support/build_paths.h"

namespace zeph::plist {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string hexOf(const Bytes& b, std::size_t from, std::size_t to) {
  std::string s;
  char buf[4];
  for (std::size_t i = from; i < to && i < b.size(); ++i) {
    std::snprintf(buf, sizeof buf, i + 1 < to ? "%02X " : "%02X", b[i]);
    s += buf;
  }
  return s;
}

std::uint64_t beAt(const Bytes& b, std::size_t at, std::size_t width) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < width; ++i) v = (v << 8) | b[at + i];
  return v;
}

struct Layout {
  std::size_t offsetSize, refSize;
  std::uint64_t numObjects, top, tableOffset;
};

Layout layoutOf(const Bytes& doc) {
  std::size_t t = doc.size() - 32;
  return {doc[t + 6], doc[t + 7], beAt(doc, t + 8, 8), beAt(doc, t + 16, 8), beAt(doc, t + 24, 8)};
}

// The encoding of a lone top object: everything between header and table.
std::string objectHex(const Value& v) {
  Bytes doc = writeBinary(v);
  return hexOf(doc, 8, layoutOf(doc).tableOffset);
}

Bytes golden(const char* name) {
  std::ifstream in(test_support::sourceDir() / "tests/plist/data" / name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

Value str(const char* s) { return Value(std::string(s)); }

TEST(BinaryWriter, EncodesScalarsInTheSmallestPlatformForm) {
  struct Case {
    Value value;
    const char* encoded;
  } cases[] = {
      {Value::integer(0), "10 00"},
      {Value::integer(255), "10 FF"},
      {Value::integer(256), "11 01 00"},
      {Value::integer(65535), "11 FF FF"},
      {Value::integer(65536), "12 00 01 00 00"},
      {Value::integer(0xFFFF'FFFFll), "12 FF FF FF FF"},
      {Value::integer(0x1'0000'0000ll), "13 00 00 00 01 00 00 00 00"},
      {Value::integer(INT64_MAX), "13 7F FF FF FF FF FF FF FF"},
      {Value::integer(-1), "13 FF FF FF FF FF FF FF FF"},  // every negative takes 8 bytes
      {Value::integer(INT64_MIN), "13 80 00 00 00 00 00 00 00"},
      {Value(Integer::ofUnsigned(1ull << 63)), "14 00 00 00 00 00 00 00 00 80 00 00 00 00 00 00 00"},
      {Value(Integer::ofUnsigned(UINT64_MAX)), "14 00 00 00 00 00 00 00 00 FF FF FF FF FF FF FF FF"},
      {Value::real(1.5), "23 3F F8 00 00 00 00 00 00"},
      {Value::real(0.5f), "23 3F E0 00 00 00 00 00 00"},  // always 8 bytes
      {Value(Date{-1.0}), "33 BF F0 00 00 00 00 00 00"},
      {Value::boolean(false), "08"},
      {Value::boolean(true), "09"},
      {Value(Data{1, 2}), "42 01 02"},
      {Value(Uid{255}), "80 FF"},
      {Value(Uid{256}), "81 01 00"},
      {Value(Uid{65536}), "83 00 01 00 00"},
      {str(""), "50"},
      {str("abc"), "53 61 62 63"},
      {str("\u00e9"), "61 00 E9"},
      {str("\U0001D11E"), "62 D8 34 DD 1E"},
  };
  for (const auto& c : cases) EXPECT_EQ(objectHex(c.value), c.encoded) << c.encoded;
  // Lengths from 15 up follow as an integer object.
  EXPECT_EQ(objectHex(str("abcdefghijklmn")).substr(0, 2), "5E");
  EXPECT_EQ(objectHex(str("abcdefghijklmno")).substr(0, 8), "5F 10 0F");
  EXPECT_EQ(objectHex(Value(Data(300))).substr(0, 11), "4F 11 01 2C");
}

TEST(BinaryWriter, WritesHeaderTableAndTrailer) {
  Bytes doc = writeBinary(Value(Array{Value::boolean(true)}));
  EXPECT_EQ(hexOf(doc, 0, doc.size()),
            "62 70 6C 69 73 74 30 30 A1 01 09 08 0A "
            "00 00 00 00 00 00 01 01 00 00 00 00 00 00 00 02 "
            "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0B");
}

// Made with python3 plistlib.dumps(value, fmt=plistlib.FMT_BINARY), whose
// binary writer follows the platform's layout and, like ours, stores equal
// scalars once (see binary_*.bplist in data/ and the values below):
//   binary_mixed.bplist     {"name": "zeph", "alias": "zeph", "count": 300, "neg": -2,
//                            "big": 2**40, "ratio": 1.5, "on": True, "off": False,
//                            "blob": b"\x00\x01\xff", "when": datetime(2026, 12, 6, 21, 21, 43),
//                            "list": [1, "zeph", True, [], {}], "uid": UID(7)}
//   binary_unicode.bplist   ["", "\U0001D11E", "h\u00e9llo", "fifteen chars!!", "\u2603" * 20]
//   binary_many_ints.bplist list(range(1000, 1300))   (2-byte refs and offsets)
// plistlib differs from us only where these avoid it: it merges 0.0 with -0.0,
// never merges NaNs, and stores equal UIDs separately.
TEST(BinaryWriter, MatchesGoldenFilesByteForByte) {
  for (const char* name : {"binary_mixed.bplist", "binary_unicode.bplist", "binary_many_ints.bplist"}) {
    Bytes expected = golden(name);
    ASSERT_FALSE(expected.empty()) << name;
    EXPECT_EQ(writeBinary(readBinary(expected)), expected) << name;
  }
  Value mixed = readBinary(golden("binary_mixed.bplist"));
  EXPECT_EQ(*member(mixed, "neg"), Value::integer(-2));
  EXPECT_EQ(*member(mixed, "big"), Value::integer(1ll << 40));
  EXPECT_EQ(*member(mixed, "uid"), Value(Uid{7}));
  EXPECT_EQ(member(mixed, "when")->asDate()->secondsSince2001, 818284903.0);
  Value list = *member(mixed, "list");
  EXPECT_EQ(list, Value(Array{Value::integer(1), str("zeph"), Value::boolean(true), Value(Array{}),
                              Value(Dictionary{})}));
  EXPECT_EQ((*readBinary(golden("binary_unicode.bplist")).asArray())[1], str("\U0001D11E"));
}

TEST(BinaryWriter, RoundTripsEveryKindAndExtreme) {
  const double inf = std::numeric_limits<double>::infinity();
  Array values = {
      Value::integer(INT64_MIN),
      Value::integer(-1),
      Value::integer(0),
      Value::integer(255),
      Value::integer(256),
      Value::integer(65535),
      Value::integer(65536),
      Value::integer(0xFFFF'FFFFll),
      Value::integer(0x1'0000'0000ll),
      Value::integer(INT64_MAX),
      Value(Integer::ofUnsigned(1ull << 63)),
      Value(Integer::ofUnsigned(UINT64_MAX)),
      Value::real(0.0),
      Value::real(-0.0),
      Value::real(std::nan("")),
      Value::real(-std::nan("")),
      Value::real(inf),
      Value::real(-inf),
      Value::real(std::numeric_limits<double>::denorm_min()),
      Value::real(std::numeric_limits<double>::max()),
      Value::real(1.0),
      Value(Date{-63113904000.0}),
      Value(Date{1e12}),
      Value(Date{0.0}),
      Value(Date{-0.0}),
      str(""),
      str("plain"),
      str("\U0001D11E"),
      str("caf\u00e9 \u2603"),
      str("\xED\xA0\x80"),
      Value(Data{}),
      Value(Data{0, 0xFF}),
      Value::boolean(true),
      Value::boolean(false),
      Value(Uid{0}),
      Value(Uid{0xFFFF'FFFFu}),
      Value(Array{}),
      Value(Dictionary{}),
  };
  for (const Value& v : values) {
    Value back = readBinary(writeBinary(v));
    EXPECT_EQ(back, v) << objectHex(v);
    EXPECT_EQ(back.kind(), v.kind());
  }
  // The same values side by side: 0.0 and -0.0, 1 and 1.0, the two NaNs all
  // stay apart when scalars are stored once.
  Value all(values);
  EXPECT_EQ(readBinary(writeBinary(all)), all);
}

TEST(BinaryWriter, RoundTripsLargeContainers) {
  for (std::size_t n : {14u, 15u, 254u, 255u, 256u, 65535u, 65536u}) {
    Array items;
    std::vector<Dictionary::Member> members;
    for (std::size_t i = 0; i < n; ++i) {
      items.push_back(Value::integer(static_cast<std::int64_t>(i)));
      members.emplace_back("k" + std::to_string(i), Value::boolean(i % 2 == 0));
    }
    Value array(std::move(items));
    Bytes doc = writeBinary(array);
    Layout l = layoutOf(doc);
    EXPECT_EQ(l.numObjects, n + 1);
    // The ref width fits the object count, not the largest index.
    EXPECT_EQ(l.refSize, n + 1 <= 255 ? 1u : n + 1 <= 65535 ? 2u : 4u) << n;
    EXPECT_EQ(l.offsetSize, l.tableOffset <= 255 ? 1u : l.tableOffset <= 65535 ? 2u : 4u) << n;
    EXPECT_EQ(l.top, 0u);
    EXPECT_EQ(readBinary(doc), array) << n;
    Value dict(Dictionary::fromMembers(std::move(members), DuplicateKeys::KeepFirst));
    EXPECT_EQ(readBinary(writeBinary(dict)), dict) << n;
  }
}

TEST(BinaryWriter, StoresEqualScalarsOnce) {
  // Keys and values share strings; distinct kinds and bits do not merge.
  Dictionary d;
  d.set("a", str("a"));
  d.set("b", Value(Array{str("a"), Value::integer(1), Value::real(1.0), Value::integer(1), Value::real(0.0),
                         Value::real(-0.0), Value::boolean(true), Value::boolean(true), Value(Data{0x61}),
                         Value(Data{0x61})}));
  Bytes doc = writeBinary(Value(d));
  // dict, "a", "b", array, 1, 1.0, 0.0, -0.0, true, data
  EXPECT_EQ(layoutOf(doc).numObjects, 10u);
  EXPECT_EQ(readBinary(doc), Value(d));
}

TEST(BinaryWriter, StoresSharedContainersOnce) {
  // Each level holds the next one twice: 2^30 leaves, 31 objects.
  Value level("lol");
  for (int i = 0; i < 30; ++i) level = Value(Array{level, level});
  Bytes doc = writeBinary(level);
  EXPECT_EQ(layoutOf(doc).numObjects, 31u);
  // Written in the order the reader needs no help with: it reads back the
  // same shape and writes the same bytes again.
  Value back = readBinary(doc);
  const Array& top = *back.asArray();
  EXPECT_EQ(top[0].sharedIdentity(), top[1].sharedIdentity());
  EXPECT_EQ(writeBinary(back), doc);
}

TEST(BinaryWriter, OutputDependsOnlyOnTheValue) {
  auto build = [] {
    Dictionary inner;
    inner.set("z", Value::integer(1));
    inner.set("a", str("x"));
    Dictionary root;
    root.set("second", Value(Array{Value(inner), str("x")}));
    root.set("first", Value(inner));
    return Value(root);
  };
  Value a = build();
  Value b = build();
  ASSERT_NE(a.sharedIdentity(), b.sharedIdentity());
  EXPECT_EQ(writeBinary(a), writeBinary(b));
  // Pre-order: the dict, its keys in order, then the value subtrees in order.
  Bytes doc = writeBinary(a);
  EXPECT_EQ(hexOf(doc, 8, 13), "D2 01 02 03 08");
}

TEST(BinaryWriter, KeepsLoneSurrogatesUnitForUnit) {
  // Read from UTF-16 "D800 0041 DC00" and written back to the same units.
  Bytes doc = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 0x63, 0xD8, 0x00, 0x00, 0x41, 0xDC, 0x00, 0x08,
               0,   0,   0,   0,   0,   0,   1,   1,   0,    0,    0,    0,    0,    0,    0,    1,
               0,   0,   0,   0,   0,   0,   0,   0,   0,    0,    0,    0,    0,    0,    0,    15};
  ASSERT_TRUE(looksBinary(doc));
  EXPECT_EQ(writeBinary(readBinary(doc)), doc);
}

TEST(BinaryWriter, RefusesWhatCannotBeReadBack) {
  auto errorOf = [](const Value& v) -> std::string {
    try {
      writeBinary(v);
    } catch (const Error& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_EQ(errorOf(str("ok\xFF")), "binary plist: string is not UTF-8 (byte 255 at index 2)");
  EXPECT_NE(errorOf(str("\xE2\x98")).find("not UTF-8"), std::string::npos);  // cut short
  EXPECT_EQ(errorOf(Value(Uid{1ull << 32})), "binary plist: UID 4294967296 is larger than 2^32-1");

  // 512 levels below the top, as the reader allows, and no more.
  auto nested = [](int levels) {
    Value v = Value::integer(1);
    for (int i = 0; i < levels; ++i) v = Value(Array{v});
    return v;
  };
  EXPECT_EQ(readBinary(writeBinary(nested(512))), nested(512));
  EXPECT_EQ(errorOf(nested(513)), "binary plist: value nested deeper than 512 levels");
  Dictionary deepKey;
  deepKey.set("k", Value::integer(1));
  Value withDict(deepKey);
  for (int i = 0; i < 512; ++i) withDict = Value(Array{withDict});
  EXPECT_NE(errorOf(withDict).find("nested deeper"), std::string::npos);
  // A shared sub-tree counts at every place it is reached from.
  Value deep = nested(500);
  Value wrapped = deep;
  for (int i = 0; i < 20; ++i) wrapped = Value(Array{wrapped});
  EXPECT_NE(errorOf(Value(Array{deep, wrapped})).find("nested deeper"), std::string::npos);
}

}  // namespace
}  // namespace zeph::plist
