#include "wallpaper_store/plist/value.h"

#include <gtest/gtest.h>

#include <cmath>

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
  Value t = s;
  EXPECT_EQ(s.sharedIdentity(), t.sharedIdentity());
  EXPECT_EQ(Value::integer(3).sharedIdentity(), nullptr);
}

}  // namespace
}  // namespace zeph::plist
