#include "plist/value.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <iterator>
#include <memory>
#include <new>

#include "plist/internal/arena.h"

namespace zeph::plist {

namespace {

using Member = Dictionary::Member;

bool byKey(const Member& a, const Member& b) { return a.first < b.first; }

// Sorts [first, last) by key and keeps one member per key; returns the new end.
Member* sortAndMerge(Member* first, Member* last, DuplicateKeys duplicates) {
  // Writers usually store keys sorted; then nothing moves.
  if (!std::is_sorted(first, last, byKey)) std::stable_sort(first, last, byKey);
  Member* kept = first;
  for (Member* it = first; it != last; ++it) {
    if (kept != first && (kept - 1)->first == it->first) {
      if (duplicates == DuplicateKeys::KeepLast) (kept - 1)->second = std::move(it->second);
      continue;
    }
    if (kept != it) *kept = std::move(*it);
    ++kept;
  }
  return kept;
}

}  // namespace

Dictionary::Dictionary(const Dictionary& other) {
  reserve(other.size_);
  std::uninitialized_copy(other.begin(), other.end(), members_);
  size_ = other.size_;
}

Dictionary::Dictionary(Dictionary&& other) noexcept
    : members_(std::exchange(other.members_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

Dictionary& Dictionary::operator=(const Dictionary& other) {
  if (this != &other) *this = Dictionary(other);
  return *this;
}

Dictionary& Dictionary::operator=(Dictionary&& other) noexcept {
  if (this != &other) {
    clear();
    members_ = std::exchange(other.members_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

Dictionary::~Dictionary() { clear(); }

void Dictionary::clear() noexcept {
  std::destroy(members_, members_ + size_);
  if (capacity_ != kHeld && members_) std::allocator<Member>().deallocate(members_, capacity_);
  members_ = nullptr;
  size_ = capacity_ = 0;
}

// Only dictionaries being built grow; held ones are reachable as const only.
void Dictionary::reserve(std::size_t n) {
  if (n <= capacity_) return;
  const std::size_t grown = std::max({n, 2 * capacity_, std::size_t{4}});
  Member* fresh = std::allocator<Member>().allocate(grown);
  std::uninitialized_move(members_, members_ + size_, fresh);
  const std::size_t size = size_;
  clear();
  members_ = fresh;
  size_ = size;
  capacity_ = grown;
}

Dictionary Dictionary::fromMembers(std::vector<Member> members, DuplicateKeys duplicates) {
  Member* last = sortAndMerge(members.data(), members.data() + members.size(), duplicates);
  Dictionary d;
  d.reserve(static_cast<std::size_t>(last - members.data()));
  std::uninitialized_move(members.data(), last, d.members_);
  d.size_ = static_cast<std::size_t>(last - members.data());
  return d;
}

const Value* Dictionary::find(std::string_view key) const {
  const Member* it =
      std::lower_bound(begin(), end(), key, [](const Member& m, std::string_view k) { return m.first < k; });
  return it != end() && it->first == key ? &it->second : nullptr;
}

void Dictionary::set(std::string key, Value value) {
  const Member* found = std::lower_bound(begin(), end(), key,
                                         [](const Member& m, const std::string& k) { return m.first < k; });
  const auto at = static_cast<std::size_t>(found - begin());
  if (at < size_ && members_[at].first == key) {
    members_[at].second = std::move(value);
    return;
  }
  reserve(size_ + 1);
  Member* last = members_ + size_;
  if (at == size_) {
    std::construct_at(last, std::move(key), std::move(value));
  } else {
    std::construct_at(last, std::move(*(last - 1)));
    std::move_backward(members_ + at, last - 1, last);
    members_[at] = Member(std::move(key), std::move(value));
  }
  ++size_;
}

namespace detail {

namespace {

// Where the system can, makes the pages of [at, at + size) present in one
// call: a reader fills nearly all of a first chunk sized from its document's
// counts, and one call costs far less than a page fault per page. Pages
// already present (memory the allocator had in use before) cost next to nothing.
void populate(void* at, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(at) + page - 1) & ~(page - 1);
  const std::uintptr_t last = (reinterpret_cast<std::uintptr_t>(at) + size) & ~(page - 1);
  // Advice only: a kernel without it leaves the pages to be faulted in as used.
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#else
  (void)at;
  (void)size;
#endif
}

constexpr std::size_t rounded(std::size_t size) { return (size + 7) & ~std::size_t{7}; }

}  // namespace

Arena::Handle Arena::open(std::uint64_t expected, std::size_t documentSize) {
  Handle arena(new Arena());
  const std::uint64_t size =
      std::min({expected, kFirstChunkPerDocumentByte * documentSize, std::uint64_t{kLargestFirstChunk}});
  if (size > 0) arena->addChunk(rounded(static_cast<std::size_t>(size)));
  return arena;
}

std::size_t Arena::footprint(Kind kind, std::size_t members) {
  switch (kind) {
    case Kind::Dictionary:
      return rounded(sizeof(Box<Dictionary>) + members * sizeof(Dictionary::Member));
    case Kind::Array:
      return rounded(sizeof(Box<Array>));
    case Kind::String:
      return rounded(sizeof(Box<std::string>));
    case Kind::Data:
      return rounded(sizeof(Box<Data>));
    default:
      return 0;
  }
}

void Arena::addChunk(std::size_t size) {
  auto* chunk = static_cast<Chunk*>(::operator new(sizeof(Chunk) + size));
  if (size > kLargestChunk) populate(chunk + 1, size);
  chunk->next = std::exchange(chunks_, chunk);
  cursor_ = reinterpret_cast<char*>(chunk + 1);
  limit_ = cursor_ + size;
}

void Arena::Close::operator()(Arena* arena) const noexcept {
  // Trade the hold for the count of objects handed out, less those already gone.
  const std::int64_t change = arena->allocated_ - kHold;
  if (arena->live_.fetch_add(change, std::memory_order_acq_rel) + change == 0) delete arena;
}

void Arena::drop() noexcept {
  if (live_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

void* Arena::allocate(std::size_t size) {
  size = (size + 7) & ~std::size_t{7};
  if (size > static_cast<std::size_t>(limit_ - cursor_)) {
    if (size > nextChunkSize_ / 4) {
      // A large object gets a chunk of its own, and the current chunk stays in use.
      auto* alone = static_cast<Chunk*>(::operator new(sizeof(Chunk) + size));
      alone->next = std::exchange(chunks_, alone);
      ++allocated_;
      return alone + 1;
    }
    addChunk(nextChunkSize_);
    nextChunkSize_ = std::min(2 * nextChunkSize_, kLargestChunk);
  }
  ++allocated_;  // counted only once the room is there, so a failed allocation leaks nothing
  return std::exchange(cursor_, cursor_ + size);
}

Arena::~Arena() {
  while (chunks_) ::operator delete(std::exchange(chunks_, chunks_->next));
}

}  // namespace detail

void* Value::allocate(std::size_t size, detail::Arena* arena) {
  return arena ? arena->allocate(size) : ::operator new(size);
}

using DictionaryBox = detail::Box<Dictionary>;

// A dictionary value holding the `n` members from `members`, moved into the
// same allocation as the dictionary itself.
const detail::Node* Value::dictionaryNode(Dictionary::Member* members, std::size_t n, detail::Arena* arena) {
  void* block = allocate(sizeof(DictionaryBox) + n * sizeof(Member), arena);
  auto* held = reinterpret_cast<Member*>(static_cast<char*>(block) + sizeof(DictionaryBox));
  std::uninitialized_move(members, members + n, held);
  return new (block) DictionaryBox(Dictionary(held, n), arena);
}

Value::Value(Dictionary d) : kind_(Kind::Dictionary) {
  p_.node = dictionaryNode(d.members_, d.size_, nullptr);
}

Value Value::fromMembers(std::span<Dictionary::Member> members, DuplicateKeys duplicates,
                         detail::Arena* arena) {
  Member* last = sortAndMerge(members.data(), members.data() + members.size(), duplicates);
  return Value(Kind::Dictionary,
               dictionaryNode(members.data(), static_cast<std::size_t>(last - members.data()), arena));
}

namespace {

template <typename T>
void destroy(const detail::Node* node) noexcept {
  const auto* box = static_cast<const detail::Box<T>*>(node);
  detail::Arena* arena = box->arena;
  box->~Box();
  if (arena) {
    arena->drop();
  } else {
    ::operator delete(const_cast<detail::Box<T>*>(box));
  }
}

}  // namespace

void Value::release() noexcept {
  switch (kind_) {
    case Kind::Dictionary:
      return destroy<Dictionary>(p_.node);
    case Kind::Array:
      return destroy<Array>(p_.node);
    case Kind::String:
      return destroy<std::string>(p_.node);
    case Kind::Data:
      return destroy<Data>(p_.node);
    default:
      return;
  }
}

const void* Value::sharedIdentity() const {
  switch (kind_) {
    case Kind::Dictionary:
      return asDictionary();
    case Kind::Array:
      return asArray();
    case Kind::String:
      return asString();
    case Kind::Data:
      return asData();
    default:
      return nullptr;
  }
}

bool operator==(const Value& a, const Value& b) {
  if (a.kind_ != b.kind_) return false;
  if (a.holdsNode() && a.p_.node == b.p_.node) return true;
  switch (a.kind_) {
    case Kind::Dictionary: {
      const Dictionary& x = *a.asDictionary();
      const Dictionary& y = *b.asDictionary();
      return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin());
    }
    case Kind::Array:
      return *a.asArray() == *b.asArray();
    case Kind::String:
      return *a.asString() == *b.asString();
    case Kind::Data:
      return *a.asData() == *b.asData();
    case Kind::Date:
      return std::bit_cast<std::uint64_t>(a.p_.date.secondsSince2001) ==
             std::bit_cast<std::uint64_t>(b.p_.date.secondsSince2001);
    case Kind::Integer:
      return a.p_.integerBits == b.p_.integerBits && a.negative_ == b.negative_;
    case Kind::Real:
      return std::bit_cast<std::uint64_t>(a.p_.real) == std::bit_cast<std::uint64_t>(b.p_.real);
    case Kind::Boolean:
      return a.p_.boolean == b.p_.boolean;
    case Kind::Uid:
      return a.p_.uid == b.p_.uid;
  }
  return false;
}

const Value* member(const Value& v, std::string_view key) {
  const Dictionary* d = v.asDictionary();
  return d ? d->find(key) : nullptr;
}

const Dictionary* dictionaryMember(const Dictionary& d, std::string_view key) {
  const Value* v = d.find(key);
  return v ? v->asDictionary() : nullptr;
}

}  // namespace zeph::plist
