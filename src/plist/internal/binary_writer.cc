#include "plist/internal/binary_writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "plist/error.h"
#include "plist/internal/binary_text.h"
#include "plist/internal/limits.h"

// Encodes as the platform's CFBinaryPList.c does: objects numbered depth-first
// in pre-order from the top object (0); a dictionary's keys before its values;
// the smallest integer, ref and offset widths the platform picks. Two choices
// differ from the platform, whose output depends on object addresses:
// - every scalar (string, data, integer, real, date, boolean, UID) is stored
//   once per distinct value, where distinct means kind and bits, so 0.0 and
//   -0.0, or 1 and 1.0, stay apart;
// - a container is stored once per shared identity, so a sub-tree shared in
//   memory is shared in the file and output stays proportional to the value.
// Output therefore depends only on the value, never on addresses or hashing.

namespace zeph::plist {
namespace {

// The smallest of 1, 2, 4 and 8 bytes that holds `n`.
std::size_t byteCount(std::uint64_t n) {
  if (n <= 0xFF) return 1;
  if (n <= 0xFFFF) return 2;
  if (n <= 0xFFFF'FFFFu) return 4;
  return 8;
}

void putBe(std::uint8_t* p, std::uint64_t v, std::size_t width) {
  if (width == 4) {
    auto word = static_cast<std::uint32_t>(v);
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap32(word);
    std::memcpy(p, &word, 4);
    return;
  }
  for (std::size_t i = 0; i < width; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * (width - 1 - i)));
}

void appendBe(std::vector<std::uint8_t>& out, std::uint64_t v, std::size_t width) {
  for (std::size_t i = width; i-- > 0;) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void appendInteger(std::vector<std::uint8_t>& out, Integer i) {
  if (i.needsSixteenBytes()) {
    out.push_back(0x14);
    appendBe(out, 0, 8);
    appendBe(out, i.bits, 8);
  } else if (i.negative || i.bits > 0xFFFF'FFFFu) {
    out.push_back(0x13);  // every negative takes 8 bytes
    appendBe(out, i.bits, 8);
  } else {
    std::size_t width = byteCount(i.bits);
    out.push_back(static_cast<std::uint8_t>(0x10 | std::countr_zero(width)));
    appendBe(out, i.bits, width);
  }
}

void appendMarkerAndCount(std::vector<std::uint8_t>& out, std::uint8_t high, std::uint64_t n) {
  if (n < 15) {
    out.push_back(static_cast<std::uint8_t>(high | n));
  } else {
    out.push_back(static_cast<std::uint8_t>(high | 0x0F));
    appendInteger(out, Integer::ofUnsigned(n));
  }
}

std::uint64_t mix(std::uint64_t h) {  // the splitmix64 finalizer
  h ^= h >> 30;
  h *= 0xBF58'476D'1CE4'E5B9ull;
  h ^= h >> 27;
  h *= 0x94D0'49BB'1331'11EBull;
  return h ^ (h >> 31);
}

// A hash of the bytes, eight at a time; most keys take one or two steps.
std::uint64_t hashBytes(std::string_view s) {
  std::uint64_t h = s.size() * 0x9E37'79B9'7F4A'7C15ull;
  std::size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, s.data() + i, 8);
    h = std::rotl(h ^ word, 29) * 0xBF58'476D'1CE4'E5B9ull;
  }
  std::uint64_t tail = 0;
  if (i < s.size()) std::memcpy(&tail, s.data() + i, s.size() - i);  // empty data may have no pointer
  return mix(h ^ tail);
}

std::string_view bytesOf(const Data& d) { return {reinterpret_cast<const char*>(d.data()), d.size()}; }

// Bits that, with the kind, tell scalars other than strings and data apart.
std::uint64_t scalarBits(const Value& v) {
  switch (v.kind()) {
    case Kind::Integer:
      return v.asInteger()->bits;
    case Kind::Real:
      return std::bit_cast<std::uint64_t>(*v.asReal());
    case Kind::Date:
      return std::bit_cast<std::uint64_t>(v.asDate()->secondsSince2001);
    case Kind::Boolean:
      return *v.asBoolean();
    case Kind::Uid:
      return v.asUid()->value;
    default:
      return 0;
  }
}

// Object indexes in one open-addressing array of 8-byte slots (hash, index):
// a lookup allocates nothing and touches one slot and, on a hash match, the
// object itself. Slots are only probed, never iterated, so the table cannot
// leak hash order into the output.
class IndexTable {
 public:
  static constexpr std::uint32_t kNone = ~std::uint32_t{0};

  IndexTable() : slots_(1024) {}
  void release() { std::vector<Slot>().swap(slots_); }

  /// The index of the object with hash `hash` for which `same(index)` holds,
  /// or else `next` after storing it; `added` says which happened.
  template <typename Same>
  std::uint32_t findOrAdd(std::uint64_t hash, std::uint32_t next, Same same, bool& added) {
    if (4 * (size_ + 1) > 3 * slots_.size()) grow();
    const auto h = static_cast<std::uint32_t>(hash);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
      Slot& s = slots_[i];
      if (s.index == kNone) {
        s = {h, next};
        ++size_;
        added = true;
        return next;
      }
      if (s.hash == h && same(s.index)) {
        added = false;
        return s.index;
      }
    }
  }

 private:
  struct Slot {
    std::uint32_t hash = 0;  // low half of the key's hash
    std::uint32_t index = kNone;
  };
  void grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (const Slot& s : old) {
      if (s.index == kNone) continue;
      std::size_t i = s.hash & mask;
      while (slots_[i].index != kNone) i = (i + 1) & mask;
      slots_[i] = s;
    }
  }
  std::vector<Slot> slots_;  // a power of two in size, at most three quarters full
  std::size_t size_ = 0;
};

// A growing sequence kept in fixed blocks: what it holds never moves, so it
// grows without copies and without needing twice its size while it does.
// Items past the old size start out unset; the writer sets each before use.
template <typename T>
class Blocks {
 public:
  std::size_t size() const { return size_; }
  T& operator[](std::size_t i) { return blocks_[i >> kShift][i & kMask]; }
  const T& operator[](std::size_t i) const { return blocks_[i >> kShift][i & kMask]; }
  void push_back(const T& item) {
    resize(size_ + 1);
    (*this)[size_ - 1] = item;
  }
  void resize(std::size_t n) {
    while (blocks_.size() << kShift < n) blocks_.push_back(std::make_unique_for_overwrite<T[]>(kMask + 1));
    size_ = n;
  }

 private:
  static constexpr std::size_t kShift = 14;
  static constexpr std::size_t kMask = (std::size_t{1} << kShift) - 1;
  std::vector<std::unique_ptr<T[]>> blocks_;
  std::size_t size_ = 0;
};

class Writer {
 public:
  std::vector<std::uint8_t> write(const Value& root);

 private:
  // One object of the file, in eight bytes. While numbering: what to write,
  // a pointer whose low bits (free, as everything pointed to is 8-byte
  // aligned) tell what it points to. Once written: where the object starts.
  enum Tag : std::uintptr_t { kValue = 0, kString = 1, kArray = 2, kDictionary = 3, kTagBits = 3 };
  union Object {
    std::uintptr_t tagged;
    std::uint64_t offset;
  };
  static_assert(alignof(Value) >= 4 && alignof(std::string) >= 4 && alignof(Array) >= 4 &&
                alignof(Dictionary) >= 4);
  static Object object(const void* p, Tag tag) { return {reinterpret_cast<std::uintptr_t>(p) | tag}; }
  static Tag tagOf(Object o) { return static_cast<Tag>(o.tagged & kTagBits); }
  template <typename T>
  static const T& target(Object o) {
    return *reinterpret_cast<const T*>(o.tagged & ~std::uintptr_t{kTagBits});
  }

  std::uint32_t flatten(const Value& v, unsigned depth, unsigned& height);
  std::uint32_t addString(const std::string& s);
  std::uint32_t addScalar(const Value& v);
  std::uint32_t addContainer(const Value& v, unsigned depth, unsigned& height);
  std::uint32_t nextIndex() const;
  void encode(Object o, std::size_t refSize, std::size_t& nextRef);
  unsigned heightOf(std::uint32_t container) const;
  void encodeString(const std::string& s);

  Blocks<Object> objects_;      // in index order
  Blocks<std::uint32_t> refs_;  // children of every container, each run in order
  IndexTable table_;            // every object by kind and value, shared containers by identity
  // Nesting below each shared container, by index (ascending), for the depth
  // check when it is met again.
  std::vector<std::pair<std::uint32_t, std::uint16_t>> sharedHeights_;
  std::vector<std::uint8_t> out_;
  std::vector<char16_t> units_;  // scratch for UTF-16 strings
  std::size_t sizeGuess_ = 0;    // bytes the objects will take, roughly
  struct ShortString {
    char bytes[16];
    std::uint32_t size = ~std::uint32_t{0};  // none yet
    std::uint32_t index = 0;
  };
  std::array<ShortString, 512> recent_{};  // short strings by a hash of their bytes
};

std::uint32_t Writer::nextIndex() const {
  if (objects_.size() >= IndexTable::kNone) throw Error("binary plist: more than 2^32-2 objects");
  return static_cast<std::uint32_t>(objects_.size());
}

std::uint32_t Writer::addString(const std::string& s) {
  // Dictionary keys repeat all through a document: short strings seen before
  // are found by their bytes alone, without touching the table or the value.
  ShortString* recent = nullptr;
  ShortString probe{};
  if (s.size() <= sizeof probe.bytes) {
    std::memcpy(probe.bytes, s.data(), s.size());
    probe.size = static_cast<std::uint32_t>(s.size());
    std::uint64_t words[2];
    std::memcpy(words, probe.bytes, sizeof words);
    recent = &recent_[mix(words[0] ^ std::rotl(words[1], 31) ^ s.size()) % recent_.size()];
    if (recent->size == probe.size && std::memcmp(recent->bytes, probe.bytes, sizeof probe.bytes) == 0) {
      return recent->index;
    }
  }
  bool added;
  auto same = [&](std::uint32_t i) {
    return tagOf(objects_[i]) == kString && target<std::string>(objects_[i]) == s;
  };
  std::uint32_t index = table_.findOrAdd(hashBytes(s), nextIndex(), same, added);
  if (added) {
    objects_.push_back(object(&s, kString));
    sizeGuess_ += s.size() + 10;
  }
  if (recent) {
    *recent = probe;
    recent->index = index;
  }
  return index;
}

std::uint32_t Writer::addScalar(const Value& v) {
  const Kind kind = v.kind();
  bool added;
  std::uint32_t index;
  if (kind == Kind::Data) {
    std::string_view bytes = bytesOf(*v.asData());
    auto same = [&](std::uint32_t i) {
      if (tagOf(objects_[i]) != kValue) return false;
      const Data* other = target<Value>(objects_[i]).asData();
      return other && bytesOf(*other) == bytes;
    };
    index = table_.findOrAdd(hashBytes(bytes) + 1, nextIndex(), same, added);
    sizeGuess_ += added ? bytes.size() + 10 : 0;
  } else {
    if (kind == Kind::Uid && v.asUid()->value > 0xFFFF'FFFFu) {
      // The platform's reader refuses larger UIDs; never write what cannot be read back.
      throw Error("binary plist: UID " + std::to_string(v.asUid()->value) + " is larger than 2^32-1");
    }
    const std::uint64_t bits = scalarBits(v);
    const bool negative = kind == Kind::Integer && v.asInteger()->negative;
    auto same = [&](std::uint32_t i) {
      if (tagOf(objects_[i]) != kValue) return false;
      const Value& other = target<Value>(objects_[i]);
      if (other.kind() != kind) return false;
      return scalarBits(other) == bits && (kind != Kind::Integer || other.asInteger()->negative == negative);
    };
    std::uint64_t hash = mix(bits ^ (std::uint64_t{static_cast<std::uint8_t>(kind)} << 58) ^ negative);
    index = table_.findOrAdd(hash, nextIndex(), same, added);
    sizeGuess_ += added ? 17 : 0;
  }
  if (added) objects_.push_back(object(&v, kValue));
  return index;
}

// Numbers `v` and everything below it; returns its index and sets `height`
// to the nesting below `v`.
std::uint32_t Writer::flatten(const Value& v, unsigned depth, unsigned& height) {
  height = 0;
  switch (v.kind()) {
    case Kind::String:
      return addString(*v.asString());
    case Kind::Array:
    case Kind::Dictionary: {
      std::uint32_t index = addContainer(v, depth, height);
      if (depth + height > kMaxDepth) {
        throw Error("binary plist: value nested deeper than " + std::to_string(kMaxDepth) + " levels");
      }
      return index;
    }
    default:
      return addScalar(v);
  }
}

std::uint32_t Writer::addContainer(const Value& v, unsigned depth, unsigned& height) {
  const Object self = object(v.sharedIdentity(), v.asArray() ? kArray : kDictionary);
  std::uint32_t index = nextIndex();
  // Only a container that other values refer to too can be met twice.
  const bool shared = v.isShared();
  if (shared) {
    bool added;
    auto same = [&](std::uint32_t i) { return objects_[i].tagged == self.tagged; };
    index = table_.findOrAdd(mix(self.tagged), index, same, added);
    if (!added) {
      height = heightOf(index);
      return index;
    }
  }
  if (depth > kMaxDepth) {
    throw Error("binary plist: value nested deeper than " + std::to_string(kMaxDepth) + " levels");
  }
  const std::size_t refCount = v.asArray() ? v.asArray()->size() : 2 * v.asDictionary()->size();
  if (refs_.size() + refCount > 0xFFFF'FFFFu) throw Error("binary plist: more than 2^32-1 refs");
  const std::size_t first = refs_.size();
  refs_.resize(first + refCount);
  objects_.push_back(self);
  // Entered now, so the list stays in index order; its height comes below.
  const std::size_t heightAt = sharedHeights_.size();
  if (shared) sharedHeights_.emplace_back(index, 0);
  unsigned below = 0;
  unsigned h = 0;
  if (const Array* a = v.asArray()) {
    sizeGuess_ += 10 + 2 * a->size();
    for (std::size_t i = 0; i < a->size(); ++i) {
      refs_[first + i] = flatten((*a)[i], depth + 1, h);
      below = std::max(below, h + 1);
    }
  } else {
    const Dictionary& d = *v.asDictionary();
    sizeGuess_ += 10 + 4 * d.size();
    std::size_t i = first;
    for (const auto& [key, value] : d) refs_[i++] = addString(key);
    for (const auto& [key, value] : d) {
      refs_[i++] = flatten(value, depth + 1, h);
      below = std::max(below, h + 1);
    }
    if (!d.empty()) below = std::max(below, 1u);
  }
  if (shared) sharedHeights_[heightAt].second = static_cast<std::uint16_t>(below);
  height = below;
  return index;
}

unsigned Writer::heightOf(std::uint32_t container) const {
  auto it = std::lower_bound(sharedHeights_.begin(), sharedHeights_.end(), container,
                             [](const auto& entry, std::uint32_t i) { return entry.first < i; });
  return it->second;
}

void Writer::encodeString(const std::string& s) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(s.data());
  if (std::all_of(bytes, bytes + s.size(), [](std::uint8_t b) { return b < 0x80; })) {
    appendMarkerAndCount(out_, 0x50, s.size());
    out_.insert(out_.end(), bytes, bytes + s.size());
    return;
  }
  std::size_t bad = utf16FromUtf8(s, units_);
  if (bad != std::string::npos) {
    throw Error("binary plist: string is not UTF-8 (byte " + std::to_string(bytes[bad]) + " at index " +
                std::to_string(bad) + ")");
  }
  appendMarkerAndCount(out_, 0x60, units_.size());
  for (char16_t u : units_) {
    out_.push_back(static_cast<std::uint8_t>(u >> 8));
    out_.push_back(static_cast<std::uint8_t>(u & 0xFF));
  }
}

void Writer::encode(Object o, std::size_t refSize, std::size_t& nextRef) {
  std::size_t refs = 0;
  switch (tagOf(o)) {
    case kString:
      return encodeString(target<std::string>(o));
    case kArray:
      refs = target<Array>(o).size();
      appendMarkerAndCount(out_, 0xA0, refs);
      break;
    case kDictionary:
      refs = target<Dictionary>(o).size();
      appendMarkerAndCount(out_, 0xD0, refs);
      refs *= 2;
      break;
    default:
      break;
  }
  if (tagOf(o) != kValue) {
    // Container runs lie in refs_ in the order of the containers.
    const std::size_t at = out_.size();
    out_.resize(at + refs * refSize);
    for (std::size_t i = 0; i < refs; ++i) putBe(out_.data() + at + i * refSize, refs_[nextRef + i], refSize);
    nextRef += refs;
    return;
  }
  const Value& v = target<Value>(o);
  switch (v.kind()) {
    case Kind::Data: {
      const Data& d = *v.asData();
      appendMarkerAndCount(out_, 0x40, d.size());
      out_.insert(out_.end(), d.begin(), d.end());
      return;
    }
    case Kind::Integer:
      return appendInteger(out_, *v.asInteger());
    case Kind::Real:
      out_.push_back(0x23);  // always 8 bytes, whatever the value
      return appendBe(out_, scalarBits(v), 8);
    case Kind::Date:
      out_.push_back(0x33);
      return appendBe(out_, scalarBits(v), 8);
    case Kind::Boolean:
      out_.push_back(*v.asBoolean() ? 0x09 : 0x08);
      return;
    case Kind::Uid: {
      std::size_t width = byteCount(v.asUid()->value);
      out_.push_back(static_cast<std::uint8_t>(0x80 | (width - 1)));
      return appendBe(out_, v.asUid()->value, width);
    }
    default:
      return;
  }
}

std::vector<std::uint8_t> Writer::write(const Value& root) {
  unsigned height = 0;
  flatten(root, 0, height);
  table_.release();  // numbering is done; its memory goes before the output's comes
  const std::size_t numObjects = objects_.size();
  const std::size_t refSize = byteCount(numObjects);
  out_.reserve(8 + sizeGuess_ + refSize * refs_.size() + 8 * numObjects + 32);
  out_.insert(out_.end(), {'b', 'p', 'l', 'i', 's', 't', '0', '0'});
  std::size_t nextRef = 0;
  for (std::size_t i = 0; i < numObjects; ++i) {
    const std::uint64_t at = out_.size();
    encode(objects_[i], refSize, nextRef);
    objects_[i].offset = at;  // what to write is not needed again
  }
  const std::uint64_t tableOffset = out_.size();
  const std::size_t offsetSize = byteCount(tableOffset);
  out_.resize(tableOffset + numObjects * offsetSize);
  for (std::size_t i = 0; i < numObjects; ++i) {
    putBe(out_.data() + tableOffset + i * offsetSize, objects_[i].offset, offsetSize);
  }
  out_.insert(out_.end(), 6, 0);  // unused bytes and sort version
  out_.push_back(static_cast<std::uint8_t>(offsetSize));
  out_.push_back(static_cast<std::uint8_t>(refSize));
  appendBe(out_, numObjects, 8);
  appendBe(out_, 0, 8);  // the top object
  appendBe(out_, tableOffset, 8);
  return std::move(out_);
}

}  // namespace

std::vector<std::uint8_t> writeBinary(const Value& root) { return Writer().write(root); }

}  // namespace zeph::plist
