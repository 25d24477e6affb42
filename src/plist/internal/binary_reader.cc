#include "plist/internal/binary_reader.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "plist/error.h"
#include "plist/internal/arena.h"
#include "plist/internal/binary_text.h"
#include "plist/internal/limits.h"

// Layout and checks per the platform's CFBinaryPList.c. Deliberately not
// supported, because the value model has no place for them: null (0x00), fill
// (0x0F, which the platform rejects too) and sets (0xCn), and dictionary keys
// that are not strings. Each is refused with an error rather than dropped, so
// a document is never silently changed. An 8-bit string (0x5n) is ASCII in
// theory; bytes from 0x80 up are read as Latin-1, as the platform does.

namespace zeph::plist {
namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kTrailerSize = 32;
constexpr std::uint64_t kLongMax = 0x7FFF'FFFF'FFFF'FFFFull;
// The platform's nesting limit on macOS: no object deeper than this below the top.
// Bytes of dictionary keys a document may expand to: this many per byte of
// the file, plus a floor that small files never reach.
constexpr std::uint64_t kKeyBytesPerFileByte = 32;
constexpr std::uint64_t kKeyBytesAtLeast = std::uint64_t{32} << 20;

std::string hex(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%" PRIx64, v);
  return buf;
}

// Big-endian unsigned of any width; widths past 8 keep the low 64 bits, as
// the platform folds them. The usual widths load at once.
std::uint64_t readSized(const std::uint8_t* p, std::size_t width) {
  switch (width) {
    case 1:
      return p[0];
    case 2:
      return std::uint64_t{p[0]} << 8 | p[1];
    case 4: {
      std::uint32_t v;
      std::memcpy(&v, p, 4);
      return std::endian::native == std::endian::little ? __builtin_bswap32(v) : v;
    }
    case 8: {
      std::uint64_t v;
      std::memcpy(&v, p, 8);
      return std::endian::native == std::endian::little ? __builtin_bswap64(v) : v;
    }
    default: {
      std::uint64_t v = 0;
      for (std::size_t i = 0; i < width; ++i) v = (v << 8) | p[i];
      return v;
    }
  }
}

struct Trailer {
  std::size_t offsetIntSize = 0;
  std::size_t objectRefSize = 0;
  std::uint64_t numObjects = 0;
  std::uint64_t topObject = 0;
  std::uint64_t offsetTableOffset = 0;
};

// True when 2^(8*width) <= n, i.e. an unsigned of `width` bytes cannot hold n.
bool tooNarrow(std::size_t width, std::uint64_t n) { return width < 8 && (n >> (8 * width)) != 0; }

// Checks the header and trailer; returns why they fail, or nothing.
std::optional<std::string> checkTrailer(std::span<const std::uint8_t> bytes, Trailer& t) {
  if (bytes.size() < 7 || std::memcmp(bytes.data(), "bplist0", 7) != 0) {
    return "no \"bplist0\" header";
  }
  // Header, one object of at least one byte and the trailer.
  if (bytes.size() < kHeaderSize + 1 + kTrailerSize) {
    return "file of " + std::to_string(bytes.size()) + " bytes is too short";
  }
  const std::size_t size = bytes.size();
  const std::uint8_t* tr = bytes.data() + size - kTrailerSize;
  t.offsetIntSize = tr[6];
  t.objectRefSize = tr[7];
  t.numObjects = readSized(tr + 8, 8);
  t.topObject = readSized(tr + 16, 8);
  t.offsetTableOffset = readSized(tr + 24, 8);
  if (t.numObjects > kLongMax) return "trailer: object count " + hex(t.numObjects) + " is too large";
  if (t.offsetTableOffset > kLongMax) {
    return "trailer: offset table offset " + hex(t.offsetTableOffset) + " is too large";
  }
  if (t.numObjects < 1) return "trailer: no objects";
  if (t.topObject >= t.numObjects) {
    return "trailer: top object " + std::to_string(t.topObject) + " >= " + std::to_string(t.numObjects) +
           " objects";
  }
  if (t.offsetTableOffset < kHeaderSize + 1 || t.offsetTableOffset >= size - kTrailerSize) {
    return "trailer: offset table at " + hex(t.offsetTableOffset) + " is outside the file";
  }
  if (t.offsetIntSize == 0) return "trailer: offset size is 0";
  if (t.objectRefSize == 0) return "trailer: ref size is 0";
  // No overflow: numObjects < 2^63 and the size is at most 255.
  if (t.numObjects > (size - kTrailerSize - t.offsetTableOffset) / t.offsetIntSize ||
      t.offsetTableOffset + t.numObjects * t.offsetIntSize + kTrailerSize != size) {
    return "trailer: offset table of " + std::to_string(t.numObjects) + " entries of " +
           std::to_string(t.offsetIntSize) + " bytes at " + hex(t.offsetTableOffset) +
           " does not end where the trailer starts";
  }
  if (tooNarrow(t.objectRefSize, t.numObjects)) {
    return "trailer: ref size " + std::to_string(t.objectRefSize) + " cannot hold " +
           std::to_string(t.numObjects) + " objects";
  }
  if (tooNarrow(t.offsetIntSize, t.offsetTableOffset)) {
    return "trailer: offset size " + std::to_string(t.offsetIntSize) + " cannot hold the table offset " +
           hex(t.offsetTableOffset);
  }
  std::uint64_t top =
      readSized(bytes.data() + t.offsetTableOffset + t.topObject * t.offsetIntSize, t.offsetIntSize);
  if (top < kHeaderSize || top >= t.offsetTableOffset) {
    return "trailer: top object at " + hex(top) + " is outside the objects";
  }
  return std::nullopt;
}

// Parses objects on demand from the top one. Every object is parsed once:
// those referenced more than once are kept and shared (values share on copy),
// so a document that references its objects many times costs time and memory
// in proportion to its size. Only they are kept, because fresh memory is what
// parsing a large document mostly costs.
class Reader {
 public:
  Reader(std::span<const std::uint8_t> bytes, const Trailer& t);
  Value top() {
    current_ = slot(trailer_.topObject);
    unsigned height = 0;
    return child(current_, 0, height);
  }

 private:
  // Per slot: being parsed (on the current path), several refs lead to it,
  // a ref to it was seen (while finding the shared ones).
  // And kept: keptAt_ holds where.
  static constexpr std::uint8_t kReading = 1, kShared = 2, kSeen = 4, kKept = 8;
  struct Kept {
    Value value;
    unsigned height;  // the deepest nesting below it
  };

  std::uint64_t offsetOf(std::uint64_t index) const {
    return readSized(bytes_.data() + trailer_.offsetTableOffset + index * trailer_.offsetIntSize,
                     trailer_.offsetIntSize);
  }
  // The slot of object `index`: objects at the same offset share one.
  std::size_t slot(std::uint64_t index) const { return canonical_.empty() ? index : canonical_[index]; }
  void findShared();
  Value parse(std::size_t slot, unsigned depth, unsigned& height);
  std::uint64_t count(std::uint8_t marker, std::uint64_t& pos);
  void need(std::uint64_t pos, std::uint64_t items, std::uint64_t itemSize, const char* what,
            const char* unit);
  std::size_t childRef(std::uint64_t pos);
  void spendRefs(std::uint64_t n);
  Value child(std::size_t slot, unsigned depth, unsigned& height);
  Value dictionary(std::uint64_t pos, std::uint64_t n, unsigned depth, unsigned& height);
  std::string key(std::size_t slot, unsigned depth, unsigned& height);
  std::string text(std::uint8_t marker, std::uint64_t pos);
  [[noreturn]] void fail(const std::string& what) const;

  std::span<const std::uint8_t> bytes_;
  Trailer trailer_;
  std::vector<std::uint32_t> canonical_;  // first index at the same offset; empty if none alias
  std::vector<std::uint8_t> state_;       // by slot: the bits above
  // By slot: the index in kept_, read only under kKept; never zeroed, so
  // only the entries of kept slots ever take memory.
  std::unique_ptr<std::uint32_t[]> keptAt_;
  std::vector<Kept> kept_;  // parsed shared objects
  // Members of the dictionaries being read, innermost last: one buffer for
  // them all instead of one per dictionary.
  std::vector<Dictionary::Member> pending_;
  // Where the document's objects go: sized by findShared(), which sees them all.
  detail::Arena::Handle arena_;
  std::uint64_t arenaBytes_ = 0;
  std::size_t current_ = 0;  // slot being parsed, for messages
  // Dictionaries hold their keys by value, so a long key shared by many
  // dictionaries is copied into each; past this many bytes the file is refused.
  std::uint64_t keyBudget_ = 0;
  // Refs that containers may still hold. Every object is parsed once and the
  // refs of containers that do not overlap fit in the file, one byte or more
  // each; containers made to share their refs would make the work grow with
  // the square of the file's size, so past this the file is refused.
  std::uint64_t refsLeft_ = 0;
};

Reader::Reader(std::span<const std::uint8_t> bytes, const Trailer& t)
    : bytes_(bytes),
      trailer_(t),
      keyBudget_(kKeyBytesPerFileByte * bytes.size() + kKeyBytesAtLeast),
      refsLeft_(bytes.size()) {
  const std::size_t n = t.numObjects;  // fits: the table lies inside `bytes`
  bool ascending = true;
  for (std::size_t i = 1; i < n && ascending; ++i) ascending = offsetOf(i) > offsetOf(i - 1);
  // Writers lay objects out in index order; only crafted files alias objects,
  // and those must not be parsed once per alias.
  if (!ascending && n <= 0xFFFF'FFFFu) {
    std::vector<std::uint64_t> offsets(n);
    for (std::size_t i = 0; i < n; ++i) offsets[i] = offsetOf(i);
    std::vector<std::uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
                     [&offsets](std::uint32_t a, std::uint32_t b) { return offsets[a] < offsets[b]; });
    canonical_.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
      bool same = i > 0 && offsets[order[i]] == offsets[order[i - 1]];
      canonical_[order[i]] = same ? canonical_[order[i - 1]] : order[i];
    }
  }
  state_.assign(n, 0);
  keptAt_.reset(new std::uint32_t[n]);
  findShared();
  arena_ = detail::Arena::open(arenaBytes_, bytes.size());
}

// Marks the slots that more than one ref (or the trailer and a ref) lead to,
// and adds up what the objects take in the arena (an upper bound: not every
// object is reached, and keys are not placed there). Malformed containers are
// skipped here; parsing reports them if reached.
void Reader::findShared() {
  const std::uint64_t end = trailer_.offsetTableOffset;
  const std::size_t refSize = trailer_.objectRefSize;
  auto note = [&](std::uint64_t ref) {
    if (ref >= trailer_.numObjects) return;
    std::size_t s = slot(ref);
    state_[s] |= (state_[s] & kSeen) ? kShared : kSeen;
  };
  note(trailer_.topObject);
  std::uint64_t scanLeft = refsLeft_;
  for (std::size_t i = 0; i < state_.size(); ++i) {
    if (slot(i) != i) continue;
    std::uint64_t pos = offsetOf(i);
    if (pos < kHeaderSize || pos >= end) continue;
    const std::uint8_t marker = bytes_[pos++];
    switch (marker >> 4) {
      case 0x4:
        arenaBytes_ += detail::Arena::footprint(Kind::Data);
        continue;
      case 0x5:
      case 0x6:
        arenaBytes_ += detail::Arena::footprint(Kind::String);  // more than needed for keys
        continue;
      case 0xA:
      case 0xD:
        break;
      default:
        continue;
    }
    std::uint64_t n = marker & 0x0F;
    if (n == 0x0F) {
      if (pos >= end || (bytes_[pos] & 0xF0) != 0x10) continue;
      std::uint64_t width = std::uint64_t{1} << (bytes_[pos] & 0x0F);
      if (width >= end - pos) continue;
      n = readSized(bytes_.data() + pos + 1, width);
      pos += 1 + width;
    }
    const std::uint64_t refs = (marker >> 4) == 0xD ? 2 : 1;
    if (n > (end - pos) / refSize / refs) continue;
    if (n * refs > scanLeft) {
      // Containers that share their refs: a crafted file. Rather than walk
      // them all, keep every object parsed, so each is still parsed once.
      for (std::uint8_t& state : state_) state |= kShared;
      return;
    }
    scanLeft -= n * refs;
    arenaBytes_ +=
        refs == 2 ? detail::Arena::footprint(Kind::Dictionary, n) : detail::Arena::footprint(Kind::Array);
    for (std::uint64_t k = 0; k < n * refs; ++k) note(readSized(bytes_.data() + pos + k * refSize, refSize));
  }
}

void Reader::fail(const std::string& what) const {
  throw Error("binary plist: object " + std::to_string(current_) + " at offset " + hex(offsetOf(current_)) +
              ": " + what);
}

// Object `s` at `depth`; raises `height` to cover the nesting below it.
Value Reader::child(std::size_t s, unsigned depth, unsigned& height) {
  if (state_[s] & kReading) fail("reference cycle through object " + std::to_string(s));
  if (state_[s] & kKept) {
    const Kept& k = kept_[keptAt_[s]];
    if (depth + k.height > kMaxDepth) fail("nested deeper than " + std::to_string(kMaxDepth) + " levels");
    height = std::max(height, k.height + 1);
    return k.value;
  }
  if (depth > kMaxDepth) fail("nested deeper than " + std::to_string(kMaxDepth) + " levels");
  std::size_t parent = current_;
  current_ = s;
  state_[s] |= kReading;
  unsigned below = 0;
  Value v = parse(s, depth, below);
  state_[s] &= static_cast<std::uint8_t>(~kReading);
  if (state_[s] & kShared) {
    keptAt_[s] = static_cast<std::uint32_t>(kept_.size());
    kept_.push_back({v, below});
    state_[s] |= kKept;
  }
  current_ = parent;
  height = std::max(height, below + 1);
  return v;
}

// Fails unless `items` of `itemSize` bytes from `pos` end before the offset
// table; checked before anything is allocated for them.
void Reader::need(std::uint64_t pos, std::uint64_t items, std::uint64_t itemSize, const char* what,
                  const char* unit) {
  if (pos > trailer_.offsetTableOffset || items > (trailer_.offsetTableOffset - pos) / itemSize) {
    fail(std::string(what) + " of " + std::to_string(items) + " " + unit + " runs past the objects");
  }
}

// The count in a marker's low nibble, or the integer object at `pos` when
// the nibble is 0xF; leaves `pos` after the count.
std::uint64_t Reader::count(std::uint8_t marker, std::uint64_t& pos) {
  if ((marker & 0x0F) != 0x0F) return marker & 0x0F;
  need(pos, 1, 1, "length", "bytes");
  std::uint8_t intMarker = bytes_[pos];
  if ((intMarker & 0xF0) != 0x10) fail("length is not an integer (marker " + hex(intMarker) + ")");
  std::uint64_t width = std::uint64_t{1} << (intMarker & 0x0F);
  need(pos + 1, width, 1, "length", "bytes");
  std::uint64_t n = readSized(bytes_.data() + pos + 1, width);
  if (n > kLongMax) fail("length " + hex(n) + " is too large");
  pos += 1 + width;
  return n;
}

void Reader::spendRefs(std::uint64_t n) {
  if (n > refsLeft_)
    fail("containers share their refs, so reading them would take more refs than the file has bytes");
  refsLeft_ -= n;
}

std::size_t Reader::childRef(std::uint64_t pos) {
  std::uint64_t ref = readSized(bytes_.data() + pos, trailer_.objectRefSize);
  if (ref >= trailer_.numObjects) {
    fail("ref " + std::to_string(ref) + " >= " + std::to_string(trailer_.numObjects) + " objects");
  }
  return slot(ref);
}

Value Reader::parse(std::size_t s, unsigned depth, unsigned& height) {
  const std::uint64_t start = offsetOf(s);
  if (start < kHeaderSize || start >= trailer_.offsetTableOffset) {
    fail("offset is outside the objects");
  }
  const std::uint8_t* p = bytes_.data();
  const std::uint8_t marker = p[start];
  const std::uint8_t low = marker & 0x0F;
  std::uint64_t pos = start + 1;
  switch (marker >> 4) {
    case 0x0:
      if (marker == 0x08 || marker == 0x09) return Value::boolean(marker == 0x09);
      if (marker == 0x00) fail("null (0x00) is not supported");
      if (marker == 0x0F) fail("fill byte (0x0f) is not an object");
      break;
    case 0x1: {
      if (low > 4) fail("integer of " + std::to_string(1u << low) + " bytes is not supported");
      std::uint64_t width = 1u << low;
      need(pos, width, 1, "integer", "bytes");
      std::uint64_t v = readSized(p + pos, width);
      // 1, 2 and 4 bytes are unsigned, 8 signed, 16 the low 64 bits unsigned.
      if (width == 8) return Value(Integer::of(static_cast<std::int64_t>(v)));
      return Value(Integer::ofUnsigned(v));
    }
    case 0x2:
      if (marker == 0x22) {
        need(pos, 4, 1, "real", "bytes");
        return Value::real(std::bit_cast<float>(static_cast<std::uint32_t>(readSized(p + pos, 4))));
      }
      if (marker == 0x23) {
        need(pos, 8, 1, "real", "bytes");
        return Value::real(std::bit_cast<double>(readSized(p + pos, 8)));
      }
      fail("real of marker " + hex(marker) + " is not supported");
    case 0x3:
      if (marker != 0x33) fail("date of marker " + hex(marker) + " is not supported");
      need(pos, 8, 1, "date", "bytes");
      return Value(Date{std::bit_cast<double>(readSized(p + pos, 8))});
    case 0x4: {
      std::uint64_t n = count(marker, pos);
      need(pos, n, 1, "data", "bytes");
      return Value(Data(p + pos, p + pos + n), arena_.get());
    }
    case 0x5:
    case 0x6:
      return Value(text(marker, pos), arena_.get());
    case 0x8: {
      std::uint64_t width = low + 1u;
      need(pos, width, 1, "UID", "bytes");
      std::uint64_t v = readSized(p + pos, width);
      if (v > 0xFFFF'FFFFu) fail("UID " + std::to_string(v) + " is larger than 2^32-1");
      return Value(Uid{v});
    }
    case 0xA: {
      std::uint64_t n = count(marker, pos);
      need(pos, n, trailer_.objectRefSize, "array", "refs");
      spendRefs(n);
      Array items;
      items.reserve(n);
      for (std::uint64_t i = 0; i < n; ++i) {
        items.push_back(child(childRef(pos + i * trailer_.objectRefSize), depth + 1, height));
      }
      return Value(std::move(items), arena_.get());
    }
    case 0xC:
      fail("sets (0xcn) are not supported");
    case 0xD: {
      std::uint64_t n = count(marker, pos);
      need(pos, n, 2 * trailer_.objectRefSize, "dictionary", "members");
      spendRefs(2 * n);
      return dictionary(pos, n, depth, height);
    }
    default:
      break;
  }
  fail("unknown marker " + hex(marker));
}

Value Reader::dictionary(std::uint64_t pos, std::uint64_t n, unsigned depth, unsigned& height) {
  const std::size_t refSize = trailer_.objectRefSize;
  const std::size_t base = pending_.size();
  for (std::uint64_t i = 0; i < n; ++i) {
    std::size_t keySlot = childRef(pos + i * refSize);
    std::uint64_t keyAt = offsetOf(keySlot);
    // Looked at before parsing, so a container key is never built; a key
    // outside the objects is reported when it is parsed.
    std::uint8_t keyMarker = keyAt < trailer_.offsetTableOffset ? bytes_[keyAt] : 0x50;
    if ((keyMarker >> 4) != 0x5 && (keyMarker >> 4) != 0x6) {
      fail("dictionary key (object " + std::to_string(keySlot) + ", marker " + hex(keyMarker) +
           ") is not a string");
    }
    std::string name = key(keySlot, depth + 1, height);
    Value value = child(childRef(pos + (n + i) * refSize), depth + 1, height);
    pending_.emplace_back(std::move(name), std::move(value));
  }
  // The platform keeps the first of duplicate keys in binary documents.
  Value d = Value::fromMembers(std::span(pending_).subspan(base), DuplicateKeys::KeepFirst, arena_.get());
  pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(base), pending_.end());
  return d;
}

// A dictionary key: read straight into the member's string, never kept as a
// shared value, since the dictionary holds its keys by value anyway.
std::string Reader::key(std::size_t s, unsigned depth, unsigned& height) {
  if (depth > kMaxDepth) fail("nested deeper than " + std::to_string(kMaxDepth) + " levels");
  const std::size_t parent = current_;
  current_ = s;
  const std::uint64_t start = offsetOf(s);
  if (start < kHeaderSize || start >= trailer_.offsetTableOffset) fail("offset is outside the objects");
  std::string k = text(bytes_[start], start + 1);
  if (k.size() > keyBudget_) {
    fail("dictionary keys repeat a long string so often that they would take more than " +
         std::to_string(kKeyBytesPerFileByte) + " times the file's size");
  }
  keyBudget_ -= k.size();
  current_ = parent;
  height = std::max(height, 1u);
  return k;
}

// The string whose marker (0x5n or 0x6n) is just before `pos`, as UTF-8.
std::string Reader::text(std::uint8_t marker, std::uint64_t pos) {
  std::uint64_t n = count(marker, pos);
  const std::uint8_t* chars = bytes_.data() + pos;
  std::string s;
  if ((marker >> 4) == 0x6) {
    need(pos, n, 2, "string", "UTF-16 units");
    appendUtf8FromUtf16Be(chars, n, s);
    return s;
  }
  need(pos, n, 1, "string", "bytes");
  if (std::all_of(chars, chars + n, [](std::uint8_t b) { return b < 0x80; })) {
    return std::string(reinterpret_cast<const char*>(chars), n);
  }
  appendUtf8FromLatin1(chars, n, s);
  return s;
}

}  // namespace

bool looksBinary(std::span<const std::uint8_t> bytes) {
  Trailer t;
  return !checkTrailer(bytes, t).has_value();
}

Value readBinary(std::span<const std::uint8_t> bytes) {
  Trailer t;
  if (auto problem = checkTrailer(bytes, t)) throw Error("binary plist: " + *problem);
  return Reader(bytes, t).top();
}

}  // namespace zeph::plist
