#include "plist/internal/binary_reader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "plist/error.h"
#include "plist/internal/binary_writer.h"

namespace zeph::plist {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Bytes from hex pairs separated by spaces: "A1 00".
Bytes hexBytes(const char* hex) {
  Bytes out;
  for (char* end = nullptr;; hex = end) {
    unsigned long v = std::strtoul(hex, &end, 16);
    if (end == hex) return out;
    out.push_back(static_cast<std::uint8_t>(v));
  }
}

void putBe(Bytes& out, std::size_t at, std::uint64_t v, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * (width - 1 - i)));
}

// Lays out a document: header, the objects in order, the offset table and the
// trailer. Tests then patch bytes to break it.
struct Doc {
  std::vector<Bytes> objects;
  std::size_t refSize = 1;
  std::size_t offsetSize = 1;
  std::uint64_t top = 0;

  Bytes build() const {
    Bytes out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<std::uint64_t> offsets;
    for (const Bytes& o : objects) {
      offsets.push_back(out.size());
      out.insert(out.end(), o.begin(), o.end());
    }
    std::uint64_t table = out.size();
    for (std::uint64_t off : offsets) {
      out.resize(out.size() + offsetSize);
      putBe(out, out.size() - offsetSize, off, offsetSize);
    }
    std::size_t t = out.size();
    out.resize(out.size() + 32);
    out[t + 6] = static_cast<std::uint8_t>(offsetSize);
    out[t + 7] = static_cast<std::uint8_t>(refSize);
    putBe(out, t + 8, objects.size(), 8);
    putBe(out, t + 16, top, 8);
    putBe(out, t + 24, table, 8);
    return out;
  }
};

// Trailer fields, counted from the trailer's start.
constexpr std::size_t kOffsetSizeAt = 6, kRefSizeAt = 7, kNumObjectsAt = 8, kTopAt = 16, kTableAt = 24;

void patchTrailer(Bytes& doc, std::size_t field, std::uint64_t v) {
  std::size_t width = field < kNumObjectsAt ? 1 : 8;
  putBe(doc, doc.size() - 32 + field, v, width);
}

// An object that is a single ref of `refSize` bytes after `marker`.
Bytes withRef(std::uint8_t marker, std::uint64_t ref, std::size_t refSize) {
  Bytes b(1 + refSize);
  b[0] = marker;
  putBe(b, 1, ref, refSize);
  return b;
}

std::string errorOf(const Bytes& doc) {
  try {
    readBinary(doc);
  } catch (const Error& e) {
    return e.what();
  }
  return "no error";
}

// Whether reading `doc` fails with a message that holds `part`.
testing::AssertionResult failsWith(const Doc& doc, std::string_view part) {
  std::string error = errorOf(doc.build());
  if (error.find(part) != std::string::npos) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "error \"" << error << "\" lacks \"" << part << "\"";
}

Value read(const Doc& d) { return readBinary(d.build()); }

TEST(BinaryReader, ReadsScalarsOfEveryWidth) {
  struct Case {
    const char* object;
    Value want;
  } cases[] = {
      {"10 FF", Value::integer(255)},
      {"11 FF FF", Value::integer(65535)},
      {"12 FF FF FF FF", Value::integer(0xFFFF'FFFFll)},   // 1, 2 and 4 bytes are unsigned
      {"13 FF FF FF FF FF FF FF FF", Value::integer(-1)},  // 8 bytes are signed
      {"13 80 00 00 00 00 00 00 00", Value::integer(INT64_MIN)},
      {"13 00 00 00 00 00 00 00 01", Value::integer(1)},  // wider than needed is fine
      {"14 00 00 00 00 00 00 00 00 80 00 00 00 00 00 00 00", Value(Integer::ofUnsigned(1ull << 63))},
      // 16 bytes keep the low 64 bits, unsigned: all ones is 2^64-1, not -1.
      {"14 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF", Value(Integer::ofUnsigned(UINT64_MAX))},
      {"14 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 05", Value::integer(5)},
      {"08", Value::boolean(false)},
      {"09", Value::boolean(true)},
      {"22 3F C0 00 00", Value::real(1.5)},  // 4-byte real widened
      {"23 BF F8 00 00 00 00 00 00", Value::real(-1.5)},
      {"33 41 C8 63 04 B3 80 00 00", Value(Date{818284903.0})},
      {"43 00 01 FF", Value(Data{0, 1, 0xFF})},
      {"40", Value(Data{})},
      {"80 07", Value(Uid{7})},
      {"83 FF FF FF FF", Value(Uid{0xFFFF'FFFFu})},
      {"8F 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 2A", Value(Uid{42})},
  };
  for (const auto& c : cases) EXPECT_EQ(read({{hexBytes(c.object)}}), c.want) << c.object;
}

TEST(BinaryReader, ConvertsStringsToUtf8) {
  struct Case {
    const char* object;
    Value want;
  } cases[] = {
      {"50", Value("")},
      {"52 68 69", Value("hi")},
      {"52 E9 FF", Value("\u00e9\u00ff")},  // bytes from 0x80 up in an 8-bit string are Latin-1
      {"62 00 E9 26 03", Value("\u00e9\u2603")},
      {"62 D8 34 DD 1E", Value("\U0001D11E")},
      // Lone surrogates are kept as their 3-byte forms.
      {"62 D8 00 00 41", Value("\xED\xA0\x80"
                               "A")},
      {"62 DC 00 D8 00", Value("\xED\xB0\x80\xED\xA0\x80")},
      // Length escape: 15 and more units take an integer object, even a needlessly wide one.
      {"5F 10 0F 61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F", Value("abcdefghijklmno")},
      {"5F 13 00 00 00 00 00 00 00 01 61", Value("a")},
  };
  for (const auto& c : cases) EXPECT_EQ(read({{hexBytes(c.object)}}), c.want) << c.object;
}

TEST(BinaryReader, ReadsContainersKeepingTheFirstOfDuplicateKeys) {
  Value v = read({{hexBytes("D2 01 02 03 04"), hexBytes("51 62"), hexBytes("51 61"), hexBytes("A2 05 04"),
                   hexBytes("09"), hexBytes("10 01")}});
  EXPECT_EQ(v, Value(Dictionary::fromMembers({{"b", Value(Array{Value::integer(1), Value::boolean(true)})},
                                              {"a", Value::boolean(true)}},
                                             DuplicateKeys::KeepFirst)));
  Value dup = read({{hexBytes("D2 01 01 02 03"), hexBytes("51 6B"), hexBytes("10 01"), hexBytes("10 02")}});
  EXPECT_EQ(dup, Value(Dictionary::fromMembers({{"k", Value::integer(1)}}, DuplicateKeys::KeepFirst)));
}

TEST(BinaryReader, AcceptsOddWidthsAndAliasedObjects) {
  // Three-byte refs and offsets are folded byte by byte, as the platform does.
  EXPECT_EQ(read({{hexBytes("A2 00 00 01 00 00 01"), hexBytes("51 78")}, 3, 3}),
            Value(Array{Value("x"), Value("x")}));

  // Two table entries at one offset: both name the same object.
  Bytes doc = Doc{{hexBytes("A2 01 02"), hexBytes("51 78")}}.build();
  Bytes aliased = {doc.begin(), doc.begin() + 13};
  aliased.insert(aliased.end(), {0x08, 0x0B, 0x0B});
  aliased.insert(aliased.end(), doc.end() - 32, doc.end());
  patchTrailer(aliased, kNumObjectsAt, 3);
  patchTrailer(aliased, kTableAt, 13);
  Value v = readBinary(aliased);
  EXPECT_EQ(v, Value(Array{Value("x"), Value("x")}));
  EXPECT_EQ((*v.asArray())[0].sharedIdentity(), (*v.asArray())[1].sharedIdentity());
}

TEST(BinaryReader, AcceptsAnyVersionDigit) {
  Bytes doc = Doc{{hexBytes("09")}}.build();
  doc[7] = '1';
  EXPECT_TRUE(looksBinary(doc));
  EXPECT_EQ(readBinary(doc), Value::boolean(true));
}

// Arrays that each reference the next one twice, 30 levels deep: a billion
// leaves when expanded. Read once per object, it parses in linear time, and
// both refs of each level yield the same shared array.
TEST(BinaryReader, SharesRepeatedObjectsInsteadOfExpandingThem) {
  constexpr int kLevels = 30;
  Doc d;
  for (int i = 0; i < kLevels; ++i) {
    d.objects.push_back({0xA2, static_cast<std::uint8_t>(i + 1), static_cast<std::uint8_t>(i + 1)});
  }
  d.objects.push_back(hexBytes("53 6C 6F 6C"));
  Value v = read(d);
  const Value* level = &v;
  for (int i = 0; i < kLevels; ++i) {
    const Array* a = level->asArray();
    ASSERT_TRUE(a && a->size() == 2u) << "level " << i;
    EXPECT_EQ((*a)[0].sharedIdentity(), (*a)[1].sharedIdentity()) << "level " << i;
    level = &(*a)[0];
  }
  EXPECT_EQ(*level, Value("lol"));
}

// `dictionaries` one-member dictionaries in an array, all naming the same
// 64 KiB key. Each dictionary holds its own copy of the key, so past a bound
// proportional to the file such a document is refused rather than let to
// expand quadratically.
Doc dictionariesSharingALongKey(std::size_t dictionaries) {
  Doc d;
  d.refSize = 2;
  d.offsetSize = 4;
  const std::size_t key = dictionaries + 1, value = dictionaries + 2;
  Bytes top = {0xAF, 0x11, 0, 0};
  putBe(top, 2, dictionaries, 2);
  for (std::size_t i = 0; i < dictionaries; ++i) {
    top.insert(top.end(), {0, 0});
    putBe(top, top.size() - 2, i + 1, 2);
  }
  d.objects.push_back(top);
  for (std::size_t i = 0; i < dictionaries; ++i) {
    Bytes dict = {0xD1, 0, 0, 0, 0};
    putBe(dict, 1, key, 2);
    putBe(dict, 3, value, 2);
    d.objects.push_back(dict);
  }
  Bytes longKey = {0x5F, 0x12, 0x00, 0x01, 0x00, 0x00};
  longKey.resize(longKey.size() + 0x10000, 'k');
  d.objects.push_back(longKey);
  d.objects.push_back(hexBytes("10 01"));
  return d;
}

TEST(BinaryReader, BoundsWhatRepeatedKeysExpandTo) {
  Value few = read(dictionariesSharingALongKey(100));
  ASSERT_EQ(few.asArray()->size(), 100u);
  EXPECT_EQ((*few.asArray())[99].asDictionary()->begin()->first, std::string(0x10000, 'k'));
  EXPECT_TRUE(failsWith(dictionariesSharingALongKey(1000),
                        "dictionary keys repeat a long string so often that they would take more than 32 "
                        "times the file's size"));
}

// A chain of `arrays` nested one-element arrays around an integer: the integer
// sits at depth `arrays` below the top object.
Doc nestedArrays(std::size_t arrays) {
  Doc d;
  d.refSize = arrays + 1 > 255 ? 2 : 1;
  d.offsetSize = 4;
  for (std::size_t i = 0; i < arrays; ++i) d.objects.push_back(withRef(0xA1, i + 1, d.refSize));
  d.objects.push_back(hexBytes("10 2A"));
  return d;
}

TEST(BinaryReader, LimitsNestingTo512Levels) {
  EXPECT_NO_THROW(read(nestedArrays(512)));
  EXPECT_TRUE(failsWith(nestedArrays(513), "nested deeper than 512 levels"));

  // The limit holds however a shared object is reached: here a 500-deep chain
  // is read first from the top, then reached again 20 levels further down.
  // Objects: the top array [21, 1], wrappers 1..20, the chain 21..520, the integer.
  Doc shared;
  shared.refSize = 2;
  shared.offsetSize = 4;
  const std::size_t chainStart = 21;
  Bytes top = {0xA2, 0, 0, 0, 0};
  putBe(top, 1, chainStart, 2);
  putBe(top, 3, 1, 2);
  shared.objects.push_back(top);
  for (std::size_t i = 1; i <= 20; ++i)
    shared.objects.push_back(withRef(0xA1, i == 20 ? chainStart : i + 1, 2));
  for (std::size_t i = 0; i < 500; ++i) shared.objects.push_back(withRef(0xA1, chainStart + i + 1, 2));
  shared.objects.push_back(hexBytes("10 2A"));
  EXPECT_TRUE(failsWith(shared, "nested deeper than 512 levels"));
}

TEST(BinaryReader, RejectsReferenceCycles) {
  EXPECT_TRUE(failsWith({{hexBytes("A1 00")}}, "reference cycle through object 0"));
  // Twenty arrays, the last pointing back at the first.
  Doc d;
  for (std::uint8_t i = 0; i < 20; ++i) d.objects.push_back({0xA1, static_cast<std::uint8_t>((i + 1) % 20)});
  EXPECT_TRUE(failsWith(d, "reference cycle through object 0"));
  // A dictionary that is its own value.
  EXPECT_TRUE(failsWith({{hexBytes("D1 01 00"), hexBytes("51 6B")}}, "reference cycle"));
}

TEST(BinaryReader, ReportsWhatAndWhere) {
  Doc d;
  d.objects = {hexBytes("A2 01 05"), hexBytes("09")};
  EXPECT_EQ(errorOf(d.build()), "binary plist: object 0 at offset 0x8: ref 5 >= 2 objects");
}

TEST(BinaryReader, RejectsMalformedDocuments) {
  const Bytes valid = Doc{{hexBytes("A1 01"), hexBytes("09")}}.build();
  auto patched = [&](std::size_t field, std::uint64_t v) {
    Bytes b = valid;
    patchTrailer(b, field, v);
    return b;
  };
  auto single = [](const char* object) { return Doc{{hexBytes(object)}}.build(); };
  auto pair = [](const char* top, const char* second) {
    return Doc{{hexBytes(top), hexBytes(second)}}.build();
  };
  Bytes slack = valid;
  slack.insert(slack.end() - 32, 0x00);
  Doc manyObjects;
  manyObjects.offsetSize = 2;
  for (int i = 0; i < 256; ++i) manyObjects.objects.push_back(hexBytes("09"));
  Bytes refTooNarrow = manyObjects.build();
  Doc farTable;
  farTable.objects = {hexBytes("4F 11 01 00")};
  farTable.objects[0].resize(260);
  Bytes offsetTooNarrow = farTable.build();
  Bytes badMagic = valid;
  badMagic[0] = 'x';
  Bytes badTopOffset = valid;
  badTopOffset[valid.size() - 34] = 2;
  Bytes badOffset = valid;
  badOffset[valid.size() - 33] = static_cast<std::uint8_t>(valid.size() - 34);

  struct Case {
    const char* name;
    Bytes doc;
    const char* error;
  } cases[] = {
      {"empty", {}, "no \"bplist0\" header"},
      {"bad magic", badMagic, "no \"bplist0\" header"},
      {"too short", Bytes(valid.begin(), valid.begin() + 40), "40 bytes is too short"},
      {"truncated", Bytes(valid.begin(), valid.end() - 1), "trailer:"},
      {"no objects", patched(kNumObjectsAt, 0), "trailer: no objects"},
      {"huge object count", patched(kNumObjectsAt, 1ull << 63),
       "object count 0x8000000000000000 is too large"},
      {"huge table offset", patched(kTableAt, 1ull << 63),
       "offset table offset 0x8000000000000000 is too large"},
      {"top out of range", patched(kTopAt, 2), "top object 2 >= 2 objects"},
      {"table in header", patched(kTableAt, 8), "offset table at 0x8 is outside the file"},
      {"table in trailer", patched(kTableAt, valid.size() - 32), "is outside the file"},
      {"offset size 0", patched(kOffsetSizeAt, 0), "offset size is 0"},
      {"ref size 0", patched(kRefSizeAt, 0), "ref size is 0"},
      {"table not at trailer", slack, "does not end where the trailer starts"},
      {"table too long", patched(kNumObjectsAt, 3), "does not end where the trailer starts"},
      {"ref size too small", refTooNarrow, "ref size 1 cannot hold 256 objects"},
      {"offset size too small", offsetTooNarrow, "offset size 1 cannot hold the table offset 0x10c"},
      {"top object in header", badTopOffset, "top object at 0x2 is outside the objects"},
      {"offset at table", badOffset, "object 1 at offset 0xb: offset is outside the objects"},
      {"ref out of range", single("A1 07"), "ref 7 >= 1 objects"},
      {"count past end", single("AF 10 40 00"), "array of 64 refs runs past the objects"},
      {"huge string length", single("5F 13 FF FF FF FF FF FF FF FF"),
       "length 0xffffffffffffffff is too large"},
      {"long string length", single("5F 13 7F FF FF FF FF FF FF FF"),
       "string of 9223372036854775807 bytes runs past"},
      {"long UTF-16 length", single("6F 12 40 00 00 00 00 41"),
       "string of 1073741824 UTF-16 units runs past"},
      {"long data length", single("4F 11 FF F5 00 00"), "data of 65525 bytes runs past"},
      {"long dict length", single("DF 12 10 00 00 00 00 00"), "dictionary of 268435456 members runs past"},
      {"length not an integer", single("5F 23 00 00 00 00 00 00 00 01"),
       "length is not an integer (marker 0x23)"},
      {"length integer past end", single("5F 13 00 01"), "length of 8 bytes runs past"},
      {"truncated integer", single("13 00 01"), "integer of 8 bytes runs past"},
      {"truncated real", single("23 00 01"), "real of 8 bytes runs past"},
      {"truncated date", single("33 00"), "date of 8 bytes runs past"},
      {"non-string key", pair("D1 01 01", "10 01"), "dictionary key (object 1, marker 0x10) is not a string"},
      {"container key", pair("D1 01 01", "A0"), "marker 0xa0) is not a string"},
      {"null", single("00"), "null (0x00) is not supported"},
      {"fill", single("0F"), "fill byte (0x0f) is not an object"},
      {"set", single("C0"), "sets (0xcn) are not supported"},
      {"32-byte integer", single("15 00"), "integer of 32 bytes is not supported"},
      {"1-byte real", single("20 00"), "real of marker 0x20 is not supported"},
      {"4-byte date", single("32 00 00 00 00"), "date of marker 0x32 is not supported"},
      {"UID past 32 bits", single("84 01 00 00 00 00"), "UID 4294967296 is larger than 2^32-1"},
      {"UTF-8 string", single("71 41"), "unknown marker 0x71"},
      {"ordered set", single("B0"), "unknown marker 0xb0"},
      {"unused marker", single("E0"), "unknown marker 0xe0"},
  };
  for (const auto& c : cases) {
    std::string error = errorOf(c.doc);
    EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
    EXPECT_EQ(error.rfind("binary plist: ", 0), 0u) << c.name << ": " << error;
  }
  EXPECT_FALSE(looksBinary(badMagic));
  EXPECT_FALSE(looksBinary(slack));
  EXPECT_FALSE(looksBinary(badTopOffset));
  EXPECT_TRUE(looksBinary(valid));
  EXPECT_TRUE(looksBinary(badOffset));  // only the top object is looked at up front
}

}  // namespace
}  // namespace zeph::plist

namespace zeph::plist {
namespace {

// A document large enough that its objects get a first chunk of their own,
// sized from its counts: what is read stays whole, and a part kept after the
// rest is dropped keeps its memory.
TEST(BinaryReader, KeepsALargeDocumentWholeInItsSizedArena) {
  Dictionary root;
  for (int i = 0; i < 20000; ++i) {
    Dictionary entry;
    entry.set("Name", Value("entry number " + std::to_string(i) + " with a name past the short-string size"));
    entry.set("Blob", Value(Data(static_cast<std::size_t>(i % 40), static_cast<std::uint8_t>(i))));
    entry.set("List", Value(Array{Value::integer(i), Value("x")}));
    root.set("key " + std::to_string(i), Value(std::move(entry)));
  }
  const Value original(std::move(root));
  const Bytes bytes = writeBinary(original);
  Value read = readBinary(bytes);
  ASSERT_EQ(read, original);
  const Value kept = *member(read, "key 19999");
  read = Value();
  EXPECT_EQ(kept, *member(original, "key 19999"));
  EXPECT_EQ(*member(kept, "Name")->asString(), "entry number 19999 with a name past the short-string size");
}

// Arrays whose refs overlap: each of `arrays` arrays starts inside the refs
// of the one before, all running on through one region of refs to a leaf, so
// a file of some hundred kilobytes holds tens of millions of refs. Every ref
// is a valid, acyclic one (two bytes wide); the top array lists the arrays.
Bytes overlappingArrays(std::size_t arrays, std::size_t sharedRefs) {
  constexpr std::uint64_t kObjects = 0xFFFF;                         // refs from 0xAF11 up are the leaf too
  Bytes out = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 0x10, 0x05};  // the leaf at offset 8
  std::vector<std::uint64_t> offsets(kObjects, 8);
  const std::size_t regionEnd = out.size() + 4 * arrays + 2 * sharedRefs;
  for (std::size_t j = 0; j < arrays; ++j) {
    offsets[j] = out.size();
    const std::size_t refs = (regionEnd - out.size() - 4) / 2;  // ≥ arrays: read as a ref, the leaf
    out.insert(out.end(),
               {0xAF, 0x11, static_cast<std::uint8_t>(refs >> 8), static_cast<std::uint8_t>(refs)});
  }
  for (std::size_t i = 0; i < sharedRefs; ++i) out.insert(out.end(), {0xFF, 0xFE});
  offsets[arrays] = out.size();  // the top
  out.insert(out.end(),
             {0xAF, 0x11, static_cast<std::uint8_t>(arrays >> 8), static_cast<std::uint8_t>(arrays)});
  for (std::size_t j = 0; j < arrays; ++j)
    out.insert(out.end(), {static_cast<std::uint8_t>(j >> 8), static_cast<std::uint8_t>(j)});
  const std::size_t table = out.size();
  out.resize(table + 4 * kObjects + 32);
  for (std::size_t i = 0; i < kObjects; ++i) putBe(out, table + 4 * i, offsets[i], 4);
  std::size_t trailer = table + 4 * kObjects;
  out[trailer + 6] = 4;
  out[trailer + 7] = 2;
  putBe(out, trailer + 8, kObjects, 8);
  putBe(out, trailer + 16, arrays, 8);
  putBe(out, trailer + 24, table, 8);
  return out;
}

// Work grows with the file, not its square: containers that share their refs
// are refused once they hold more refs than the file has bytes.
TEST(BinaryReader, RefusesContainersThatShareTheirRefs) {
  const Bytes few = overlappingArrays(3, 100);  // a few hundred refs in a 260 KB file
  Value read = readBinary(few);
  ASSERT_EQ(read.asArray()->size(), 3u);
  EXPECT_EQ((*read.asArray())[0].asArray()->size(), 104u);  // through the next two headers
  EXPECT_EQ((*read.asArray())[2].asArray()->size(), 100u);
  const Bytes many = overlappingArrays(1000, 20000);  // 21 million refs in 300 KB
  EXPECT_NE(errorOf(many).find("containers share their refs"), std::string::npos) << errorOf(many);
}

}  // namespace
}  // namespace zeph::plist
