#ifndef ZEPH_WALLPAPER_STORE_PLIST_VALUE_H_
#define ZEPH_WALLPAPER_STORE_PLIST_VALUE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace zeph::plist {

class Value;

/// An integer as property lists hold it: the signed 64-bit range, plus the
/// unsigned values 2^63 … 2^64−1 that the platform keeps in its 16-byte form.
struct Integer {
  std::uint64_t bits = 0;  // two's complement when `negative`
  bool negative = false;   // true exactly when the value is below zero

  static constexpr Integer of(std::int64_t v) {
    return {static_cast<std::uint64_t>(v), v < 0};
  }
  static constexpr Integer ofUnsigned(std::uint64_t v) { return {v, false}; }
  /// True for 2^63 and above, which only the 16-byte form can carry.
  constexpr bool needsSixteenBytes() const { return !negative && bits > 0x7FFF'FFFF'FFFF'FFFFull; }
  friend constexpr bool operator==(const Integer&, const Integer&) = default;
};

/// Seconds since 2001-01-01 00:00:00 UTC, as the platform keeps dates.
struct Date {
  double secondsSince2001 = 0;
};

/// A keyed-archive reference; carried through unchanged.
struct Uid {
  std::uint64_t value = 0;
  friend constexpr bool operator==(const Uid&, const Uid&) = default;
};

using Data = std::vector<std::uint8_t>;
using Array = std::vector<Value>;

/// Which duplicate key survives when a dictionary is built from a list of
/// members: binary documents keep the first, the text formats the last.
enum class DuplicateKeys { KeepFirst, KeepLast };

/// String-keyed dictionary, each key at most once. Members are kept sorted by
/// key bytes, so iteration order is deterministic; the order carries no meaning.
class Dictionary {
 public:
  using Member = std::pair<std::string, Value>;
  using const_iterator = std::vector<Member>::const_iterator;

  Dictionary() = default;
  static Dictionary fromMembers(std::vector<Member> members, DuplicateKeys duplicates);

  /// The member's value, or nullptr when the key is absent.
  const Value* find(std::string_view key) const;
  /// Inserts the member or replaces the value of an existing key.
  void set(std::string key, Value value);

  std::size_t size() const;
  bool empty() const;
  const_iterator begin() const;
  const_iterator end() const;

 private:
  std::vector<Member> members_;  // sorted by key, keys unique
};

enum class Kind { Dictionary, Array, String, Data, Date, Integer, Real, Boolean, Uid };

/// One property-list value. Values are immutable and cheap to copy: strings,
/// data and containers are shared, never copied, so a document whose objects
/// are referenced many times costs memory in proportion to its size. To change
/// a container, copy it out, change the copy and wrap it in a new Value.
class Value {
 public:
  Value() : Value(Dictionary{}) {}
  explicit Value(Dictionary d) : v_(std::make_shared<const Dictionary>(std::move(d))) {}
  explicit Value(Array a) : v_(std::make_shared<const Array>(std::move(a))) {}
  explicit Value(std::string s) : v_(std::make_shared<const std::string>(std::move(s))) {}
  explicit Value(const char* s) : Value(std::string(s)) {}
  explicit Value(Data d) : v_(std::make_shared<const Data>(std::move(d))) {}
  explicit Value(Date d) : v_(d) {}
  explicit Value(Integer i) : v_(i) {}
  explicit Value(Uid u) : v_(u) {}
  static Value boolean(bool b) { return Value(Storage(b)); }
  static Value real(double r) { return Value(Storage(r)); }
  static Value integer(std::int64_t i) { return Value(Integer::of(i)); }

  Kind kind() const { return static_cast<Kind>(kKindOfIndex[v_.index()]); }

  // Each accessor yields nullptr when the value is of another kind.
  const Dictionary* asDictionary() const { return get<Dictionary>(); }
  const Array* asArray() const { return get<Array>(); }
  const std::string* asString() const { return get<std::string>(); }
  const Data* asData() const { return get<Data>(); }
  const Date* asDate() const { return std::get_if<Date>(&v_); }
  const Integer* asInteger() const { return std::get_if<Integer>(&v_); }
  const double* asReal() const { return std::get_if<double>(&v_); }
  const bool* asBoolean() const { return std::get_if<bool>(&v_); }
  const Uid* asUid() const { return std::get_if<Uid>(&v_); }

  /// Identity of the shared object behind a string, data or container value
  /// (nullptr for the others); the binary writer stores such an object once.
  const void* sharedIdentity() const;

  /// Same kind and same value, all the way down. Reals and dates compare by
  /// their bits, so 0.0 differs from −0.0 and a NaN equals the same NaN.
  friend bool operator==(const Value& a, const Value& b);

 private:
  using Storage = std::variant<std::shared_ptr<const Dictionary>, std::shared_ptr<const Array>,
                               std::shared_ptr<const std::string>, std::shared_ptr<const Data>,
                               Date, Integer, double, bool, Uid>;
  // Kind for each variant index; the two lists are in the same order.
  static constexpr int kKindOfIndex[] = {0, 1, 2, 3, 4, 5, 6, 7, 8};

  explicit Value(Storage s) : v_(std::move(s)) {}
  template <typename T>
  const T* get() const {
    const auto* p = std::get_if<std::shared_ptr<const T>>(&v_);
    return p ? p->get() : nullptr;
  }

  Storage v_;  // never holds an empty pointer
};

// Defined here, where Value is complete.
inline std::size_t Dictionary::size() const { return members_.size(); }
inline bool Dictionary::empty() const { return members_.empty(); }
inline Dictionary::const_iterator Dictionary::begin() const { return members_.begin(); }
inline Dictionary::const_iterator Dictionary::end() const { return members_.end(); }

/// The value under `key` when `v` is a dictionary that holds one, else nullptr.
const Value* member(const Value& v, std::string_view key);
/// Like member(), but only when the member is itself a dictionary.
const Dictionary* dictionaryMember(const Dictionary& d, std::string_view key);

}  // namespace zeph::plist

#endif  // ZEPH_WALLPAPER_STORE_PLIST_VALUE_H_
