#include "plist/value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <thread>

#include "plist/format.h"
#include "plist/internal/binary_writer.h"
#include "plist/internal/xml_writer.h"

namespace zeph::plist {
namespace {

TEST(Dictionary, DuplicateKeysFollowThePolicy) {
  auto members = [] {
    return std::vector<Dictionary::Member>{
        {"b", Value("first")}, {"a", Value::integer(1)}, {"b", Value("last")}};
  };
  Dictionary first = Dictionary::fromMembers(members(), DuplicateKeys::KeepFirst);
  Dictionary last = Dictionary::fromMembers(members(), DuplicateKeys::KeepLast);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(*first.find("b")->asString(), "first");
  EXPECT_EQ(*last.find("b")->asString(), "last");
  EXPECT_EQ(first.begin()->first, "a");  // iteration is by key
  EXPECT_EQ(first.find("c"), nullptr);
}

TEST(Dictionary, SetInsertsOrReplaces) {
  Dictionary d;
  d.set("Idle", Value("x"));
  d.set("Desktop", Value("y"));
  d.set("Idle", Value::boolean(true));
  ASSERT_EQ(d.size(), 2u);
  EXPECT_TRUE(*d.find("Idle")->asBoolean());
}

TEST(Dictionary, CopiesAreIndependentAndStaySorted) {
  Dictionary built;
  for (char c = 'z'; c >= 'a'; --c) built.set(std::string(1, c), Value::integer(c));
  const Value held(built);  // members move into the value's own storage
  Dictionary copy = *held.asDictionary();
  copy.set("m", Value("changed"));
  copy.set("0", Value("first"));
  EXPECT_EQ(*member(held, "m"), Value::integer('m'));
  EXPECT_EQ(held.asDictionary()->size(), 26u);
  ASSERT_EQ(copy.size(), 27u);
  EXPECT_EQ(copy.begin()->first, "0");
  EXPECT_TRUE(std::is_sorted(copy.begin(), copy.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; }));
  Dictionary moved = std::move(copy);
  EXPECT_EQ(*moved.find("m")->asString(), "changed");
  copy = moved;  // a moved-from dictionary can be assigned again
  EXPECT_EQ(copy.size(), 27u);
}

TEST(Value, EqualityIsExactInKindAndBits) {
  EXPECT_NE(Value::real(0.0), Value::real(-0.0));
  EXPECT_EQ(Value::real(std::nan("")), Value::real(std::nan("")));
  EXPECT_NE(Value::integer(1), Value::real(1.0));
  EXPECT_NE(Value(Integer::ofUnsigned(~0ull)), Value::integer(-1));
  EXPECT_EQ(Value(Integer::ofUnsigned(5)), Value::integer(5));
  EXPECT_NE(Value(Date{1.0}), Value::real(1.0));
  EXPECT_NE(Value(Uid{3}), Value::integer(3));
  Dictionary a, b;
  a.set("k", Value(Array{Value("s"), Value(Data{1, 2})}));
  b.set("k", Value(Array{Value("s"), Value(Data{1, 2})}));
  EXPECT_EQ(Value(a), Value(b));
  b.set("k", Value(Array{Value("s"), Value(Data{1, 3})}));
  EXPECT_NE(Value(a), Value(b));
}

TEST(Value, CopiesShareTheirObjects) {
  Value s("shared");
  EXPECT_FALSE(s.isShared());
  Value t = s;
  EXPECT_TRUE(s.isShared());
  EXPECT_EQ(s.sharedIdentity(), t.sharedIdentity());
  EXPECT_EQ(Value::integer(3).sharedIdentity(), nullptr);
  EXPECT_FALSE(Value::integer(3).isShared());
}

// Documents are read into one block of memory; a part kept after the rest is
// gone must stay whole, whichever thread lets go of it last.
TEST(Value, PartsOfAReadDocumentOutliveIt) {
  Dictionary inner;
  inner.set("name", Value("a string long enough to live outside the value"));
  inner.set("bytes", Value(Data(100, 7)));
  Dictionary outer;
  outer.set("inner", Value(inner));
  outer.set("list", Value(Array{Value(Date{2.0}), Value(inner)}));
  const Value original(outer);
  for (const auto& bytes : {writeBinary(original), writeXml(original)}) {
    Value kept;
    {
      Value document = read(bytes);
      ASSERT_EQ(document, original);
      kept = *member(document, "list");
    }
    EXPECT_EQ(kept, *member(original, "list"));
    std::thread([part = std::move(kept)]() mutable { part = Value::boolean(false); }).join();
  }
}

}  // namespace
}  // namespace zeph::plist
