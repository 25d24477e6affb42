#ifndef ZEPH_PLIST_VALUE_H_
#define ZEPH_PLIST_VALUE_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zeph::plist {

class Value;

/// An integer as property lists hold it: the signed 64-bit range, plus the
/// unsigned values 2^63 … 2^64−1 that the platform keeps in its 16-byte form.
struct Integer {
  std::uint64_t bits = 0;  // two's complement when `negative`
  bool negative = false;   // true exactly when the value is below zero

  static constexpr Integer of(std::int64_t v) { return {static_cast<std::uint64_t>(v), v < 0}; }
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
  using const_iterator = const Member*;

  Dictionary() = default;
  Dictionary(const Dictionary& other);
  Dictionary(Dictionary&& other) noexcept;
  Dictionary& operator=(const Dictionary& other);
  Dictionary& operator=(Dictionary&& other) noexcept;
  ~Dictionary();
  static Dictionary fromMembers(std::vector<Member> members, DuplicateKeys duplicates);

  /// The member's value, or nullptr when the key is absent.
  const Value* find(std::string_view key) const;
  /// Inserts the member or replaces the value of an existing key.
  void set(std::string key, Value value);

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const_iterator begin() const;
  const_iterator end() const;

 private:
  friend class Value;
  // The capacity of members that a Value keeps in its own allocation, right
  // after the dictionary: one allocation per dictionary in a document.
  static constexpr std::size_t kHeld = ~std::size_t{0};

  Dictionary(Member* held, std::size_t size) : members_(held), size_(size), capacity_(kHeld) {}
  void reserve(std::size_t n);
  void clear() noexcept;

  Member* members_ = nullptr;  // sorted by key, keys unique
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

enum class Kind : std::uint8_t { Dictionary, Array, String, Data, Date, Integer, Real, Boolean, Uid };

namespace detail {

class Arena;  // where a reader places a document's objects: plist/internal/arena.h

// A string, data or container with its own reference count, which the binary
// writer can ask about.
struct Node {
  mutable std::atomic<std::size_t> refs{1};
  Arena* arena = nullptr;  // the arena it lives in, or nullptr for the heap
};
template <typename T>
struct Box : Node {
  Box(T v, Arena* a) : Node{{1}, a}, value(std::move(v)) {}
  const T value;
};

}  // namespace detail

/// One property-list value. Values are immutable and cheap to copy: strings,
/// data and containers are shared, never copied, so a document whose objects
/// are referenced many times costs memory in proportion to its size. To change
/// a container, copy it out, change the copy and wrap it in a new Value.
/// Sixteen bytes: scalars are held in place, everything else by reference.
class Value {
 public:
  Value() : Value(Dictionary{}) {}
  explicit Value(Dictionary d);
  explicit Value(Array a) : Value(std::move(a), nullptr) {}
  explicit Value(std::string s) : Value(std::move(s), nullptr) {}
  explicit Value(const char* s) : Value(std::string(s)) {}
  explicit Value(Data d) : Value(std::move(d), nullptr) {}
  // For readers: the same, with the object placed in `arena` (or the heap when nullptr).
  Value(Array a, detail::Arena* arena) : Value(Kind::Array, box(std::move(a), arena)) {}
  Value(std::string s, detail::Arena* arena) : Value(Kind::String, box(std::move(s), arena)) {}
  Value(Data d, detail::Arena* arena) : Value(Kind::Data, box(std::move(d), arena)) {}
  explicit Value(Date d) : kind_(Kind::Date) { p_.date = d; }
  explicit Value(Integer i) : kind_(Kind::Integer), negative_(i.negative) { p_.integerBits = i.bits; }
  explicit Value(Uid u) : kind_(Kind::Uid) { p_.uid = u; }
  static Value boolean(bool b) {
    Value v(Kind::Boolean);
    v.p_.boolean = b;
    return v;
  }
  static Value real(double r) {
    Value v(Kind::Real);
    v.p_.real = r;
    return v;
  }
  static Value integer(std::int64_t i) { return Value(Integer::of(i)); }
  /// A dictionary of `members`, for readers: sorts them in place, keeps one
  /// of each key as `duplicates` says and moves them out, leaving the span's
  /// members moved-from. Like Value(Dictionary::fromMembers(…)), with no copy.
  static Value fromMembers(std::span<Dictionary::Member> members, DuplicateKeys duplicates,
                           detail::Arena* arena = nullptr);

  Value(const Value& other) noexcept : p_(other.p_), kind_(other.kind_), negative_(other.negative_) {
    if (holdsNode()) p_.node->refs.fetch_add(1, std::memory_order_relaxed);
  }
  Value(Value&& other) noexcept : p_(other.p_), kind_(other.kind_), negative_(other.negative_) {
    other.kind_ = Kind::Boolean;  // moved-from: false, owning nothing
    other.p_.boolean = false;
  }
  Value& operator=(const Value& other) noexcept {
    Value copy(other);
    swap(copy);
    return *this;
  }
  Value& operator=(Value&& other) noexcept {
    Value taken(std::move(other));
    swap(taken);
    return *this;
  }
  ~Value() {
    if (holdsNode() && p_.node->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) release();
  }

  Kind kind() const { return kind_; }

  // Each accessor yields nullptr (nothing, for integers) when the value is of another kind.
  const Dictionary* asDictionary() const { return get<Dictionary>(Kind::Dictionary); }
  const Array* asArray() const { return get<Array>(Kind::Array); }
  const std::string* asString() const { return get<std::string>(Kind::String); }
  const Data* asData() const { return get<Data>(Kind::Data); }
  const Date* asDate() const { return kind_ == Kind::Date ? &p_.date : nullptr; }
  std::optional<Integer> asInteger() const {
    if (kind_ != Kind::Integer) return std::nullopt;
    return Integer{p_.integerBits, negative_};
  }
  const double* asReal() const { return kind_ == Kind::Real ? &p_.real : nullptr; }
  const bool* asBoolean() const { return kind_ == Kind::Boolean ? &p_.boolean : nullptr; }
  const Uid* asUid() const { return kind_ == Kind::Uid ? &p_.uid : nullptr; }

  /// Identity of the shared object behind a string, data or container value
  /// (nullptr for the others); the binary writer stores such an object once.
  const void* sharedIdentity() const;
  /// True when another Value refers to the same object as this one, so it may
  /// occur more than once in a document. Always false for scalars.
  bool isShared() const { return holdsNode() && p_.node->refs.load(std::memory_order_acquire) > 1; }

  /// Same kind and same value, all the way down. Reals and dates compare by
  /// their bits, so 0.0 differs from −0.0 and a NaN equals the same NaN.
  friend bool operator==(const Value& a, const Value& b);

 private:
  union Payload {
    const detail::Node* node;  // dictionary, array, string, data
    Date date;
    std::uint64_t integerBits;  // with negative_
    double real;
    bool boolean;
    Uid uid;
  };

  explicit Value(Kind k) : kind_(k) {}
  Value(Kind k, const detail::Node* node) : kind_(k) { p_.node = node; }
  bool holdsNode() const { return kind_ <= Kind::Data; }
  template <typename T>
  const T* get(Kind k) const {
    return kind_ == k ? &static_cast<const detail::Box<T>*>(p_.node)->value : nullptr;
  }
  void swap(Value& other) noexcept {
    std::swap(p_, other.p_);
    std::swap(kind_, other.kind_);
    std::swap(negative_, other.negative_);
  }
  void release() noexcept;  // deletes the object once the last reference is gone
  static void* allocate(std::size_t size, detail::Arena* arena);
  template <typename T>
  static const detail::Node* box(T v, detail::Arena* arena) {
    return new (allocate(sizeof(detail::Box<T>), arena)) detail::Box<T>(std::move(v), arena);
  }
  static const detail::Node* dictionaryNode(Dictionary::Member* members, std::size_t n, detail::Arena* arena);

  Payload p_{};
  Kind kind_;
  bool negative_ = false;
};

// Defined here, where Value is complete.
inline Dictionary::const_iterator Dictionary::begin() const { return members_; }
inline Dictionary::const_iterator Dictionary::end() const { return members_ + size_; }

/// The value under `key` when `v` is a dictionary that holds one, else nullptr.
const Value* member(const Value& v, std::string_view key);
/// Like member(), but only when the member is itself a dictionary.
const Dictionary* dictionaryMember(const Dictionary& d, std::string_view key);

}  // namespace zeph::plist

#endif  // ZEPH_PLIST_VALUE_H_
