#include "wallpaper_store/plist/binary_writer.h"

#include <algorithm>
#include <bit>
#include <functional>
#include <string>
#include <string_view>

#include "wallpaper_store/plist/binary_text.h"
#include "wallpaper_store/plist/error.h"

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

constexpr unsigned kMaxDepth = 512;  // the platform's reader refuses deeper documents

// The smallest of 1, 2, 4 and 8 bytes that holds `n`.
std::size_t byteCount(std::uint64_t n) {
  if (n <= 0xFF) return 1;
  if (n <= 0xFFFF) return 2;
  if (n <= 0xFFFF'FFFFu) return 4;
  return 8;
}

void putBe(std::uint8_t* p, std::uint64_t v, std::size_t width) {
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

// The size of the tree under `v` as if nothing in it were shared, to size
// buffers once. Gives up past `limit` objects, on trees that sharing makes
// larger than the value itself.
struct Measure {
  std::size_t limit = 0;
  std::size_t objects = 0;
  std::size_t refs = 0;

  bool complete() const { return objects <= limit; }
  void add(const Value& v, unsigned depth) {
    ++objects;
    if (!complete() || depth > kMaxDepth) return;
    if (const Array* a = v.asArray()) {
      refs += a->size();
      for (const Value& child : *a) add(child, depth + 1);
    } else if (const Dictionary* d = v.asDictionary()) {
      refs += 2 * d->size();
      objects += d->size();
      for (const auto& [key, child] : *d) add(child, depth + 1);
    }
  }
};

class Writer {
 public:
  std::vector<std::uint8_t> write(const Value& root);

 private:
  // One object of the file.
  struct Object {
    union {
      // While numbering: the string of a string object (a key or a value),
      // the shared Array or Dictionary of a container, else the Value.
      const void* payload;
      std::uint64_t offset;  // once written: where the object starts
    };
    std::uint32_t firstRef;  // containers: where its refs start in refs_
    std::uint16_t height;    // containers: the deepest nesting below it
    Kind kind;
  };

  std::uint32_t flatten(const Value& v, unsigned depth, unsigned& height);
  std::uint32_t addString(const std::string& s);
  std::uint32_t addScalar(const Value& v);
  std::uint32_t addContainer(const Value& v, unsigned depth);
  std::uint32_t nextIndex() const;
  void encode(const Object& o, std::size_t refSize);
  void encodeString(const std::string& s);

  std::vector<Object> objects_;      // in index order
  std::vector<std::uint32_t> refs_;  // children of every container, each run in order
  IndexTable table_;                 // every object by kind and value, containers by identity
  std::vector<std::uint8_t> out_;
  std::vector<char16_t> units_;  // scratch for UTF-16 strings
  std::size_t sizeGuess_ = 0;    // bytes the objects will take, roughly
};

std::uint32_t Writer::nextIndex() const {
  if (objects_.size() >= IndexTable::kNone) throw Error("binary plist: more than 2^32-2 objects");
  return static_cast<std::uint32_t>(objects_.size());
}

std::uint32_t Writer::addString(const std::string& s) {
  bool added;
  auto same = [&](std::uint32_t i) {
    return objects_[i].kind == Kind::String && *static_cast<const std::string*>(objects_[i].payload) == s;
  };
  std::uint32_t index = table_.findOrAdd(mix(std::hash<std::string_view>()(s)), nextIndex(), same, added);
  if (added) {
    objects_.push_back({{&s}, 0, 0, Kind::String});
    sizeGuess_ += s.size() + 10;
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
      return objects_[i].kind == Kind::Data &&
             bytesOf(*static_cast<const Value*>(objects_[i].payload)->asData()) == bytes;
    };
    index = table_.findOrAdd(mix(std::hash<std::string_view>()(bytes) + 1), nextIndex(), same, added);
    sizeGuess_ += added ? bytes.size() + 10 : 0;
  } else {
    if (kind == Kind::Uid && v.asUid()->value > 0xFFFF'FFFFu) {
      // The platform's reader refuses larger UIDs; never write what cannot be read back.
      throw Error("binary plist: UID " + std::to_string(v.asUid()->value) + " is larger than 2^32-1");
    }
    const std::uint64_t bits = scalarBits(v);
    const bool negative = kind == Kind::Integer && v.asInteger()->negative;
    auto same = [&](std::uint32_t i) {
      const Object& o = objects_[i];
      if (o.kind != kind) return false;
      const Value& other = *static_cast<const Value*>(o.payload);
      return scalarBits(other) == bits && (kind != Kind::Integer || other.asInteger()->negative == negative);
    };
    std::uint64_t hash = mix(bits ^ (std::uint64_t{static_cast<std::uint8_t>(kind)} << 58) ^ negative);
    index = table_.findOrAdd(hash, nextIndex(), same, added);
    sizeGuess_ += added ? 17 : 0;
  }
  if (added) objects_.push_back({{&v}, 0, 0, kind});
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
      std::uint32_t index = addContainer(v, depth);
      height = objects_[index].height;
      if (depth + height > kMaxDepth) {
        throw Error("binary plist: value nested deeper than " + std::to_string(kMaxDepth) + " levels");
      }
      return index;
    }
    default:
      return addScalar(v);
  }
}

std::uint32_t Writer::addContainer(const Value& v, unsigned depth) {
  const void* identity = v.sharedIdentity();
  bool added;
  auto same = [&](std::uint32_t i) { return objects_[i].payload == identity; };
  const std::uint32_t index = table_.findOrAdd(mix(reinterpret_cast<std::uintptr_t>(identity)),
                                               nextIndex(), same, added);
  if (!added) return index;
  if (depth > kMaxDepth) {
    throw Error("binary plist: value nested deeper than " + std::to_string(kMaxDepth) + " levels");
  }
  const std::size_t refCount = v.asArray() ? v.asArray()->size() : 2 * v.asDictionary()->size();
  if (refs_.size() + refCount > 0xFFFF'FFFFu) throw Error("binary plist: more than 2^32-1 refs");
  const auto first = static_cast<std::uint32_t>(refs_.size());
  refs_.resize(first + refCount);
  objects_.push_back({{identity}, first, 0, v.kind()});
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
  objects_[index].height = static_cast<std::uint16_t>(below);
  return index;
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
    throw Error("binary plist: string is not UTF-8 (byte " + std::to_string(bytes[bad]) +
                " at index " + std::to_string(bad) + ")");
  }
  appendMarkerAndCount(out_, 0x60, units_.size());
  for (char16_t u : units_) {
    out_.push_back(static_cast<std::uint8_t>(u >> 8));
    out_.push_back(static_cast<std::uint8_t>(u & 0xFF));
  }
}

void Writer::encode(const Object& o, std::size_t refSize) {
  std::size_t refs = 0;
  switch (o.kind) {
    case Kind::String:
      return encodeString(*static_cast<const std::string*>(o.payload));
    case Kind::Array:
      refs = static_cast<const Array*>(o.payload)->size();
      appendMarkerAndCount(out_, 0xA0, refs);
      break;
    case Kind::Dictionary:
      refs = static_cast<const Dictionary*>(o.payload)->size();
      appendMarkerAndCount(out_, 0xD0, refs);
      refs *= 2;
      break;
    default:
      break;
  }
  if (o.kind == Kind::Array || o.kind == Kind::Dictionary) {
    const std::size_t at = out_.size();
    out_.resize(at + refs * refSize);
    for (std::size_t i = 0; i < refs; ++i) putBe(out_.data() + at + i * refSize, refs_[o.firstRef + i], refSize);
    return;
  }
  const Value& v = *static_cast<const Value*>(o.payload);
  switch (o.kind) {
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
  // Fresh memory is what writing a large value mostly costs, so buffers are
  // sized once where the tree allows, never grown by copying.
  Measure m;
  m.limit = std::size_t{1} << 22;
  m.add(root, 0);
  if (m.complete()) {
    objects_.reserve(m.objects);
    refs_.reserve(m.refs);
  }
  unsigned height = 0;
  flatten(root, 0, height);
  const std::size_t numObjects = objects_.size();
  const std::size_t refSize = byteCount(numObjects);
  out_.reserve(8 + sizeGuess_ + refSize * refs_.size() + 8 * numObjects + 32);
  out_.insert(out_.end(), {'b', 'p', 'l', 'i', 's', 't', '0', '0'});
  for (Object& o : objects_) {
    const std::uint64_t at = out_.size();
    encode(o, refSize);
    o.offset = at;  // the payload is not needed again
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
