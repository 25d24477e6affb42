#ifndef ZEPH_PLIST_INTERNAL_ARENA_H_
#define ZEPH_PLIST_INTERNAL_ARENA_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "plist/value.h"

namespace zeph::plist::detail {

// Memory for the strings, data and containers of one document while a reader
// builds it: handed out by bumping a pointer and given back all at once when
// the last of those objects is gone. That saves a heap allocation and a free
// per object, which is most of what reading a large document costs; the price
// is that one object still in use keeps the whole document's memory.
class Arena {
 public:
  // Who opened the arena holds it until closing; objects may outlive that.
  struct Close {
    void operator()(Arena* arena) const noexcept;
  };
  using Handle = std::unique_ptr<Arena, Close>;
  /// An arena whose first chunk holds `expected` bytes, which a reader knows
  /// from the counts of its document of `documentSize` bytes, so that a large
  /// document lies in one block, taken from the system at once. The counts
  /// of a crafted document can claim far more than it holds: the chunk is
  /// never more than a few times the document's size. No `expected`, no chunk.
  static Handle open(std::uint64_t expected = 0, std::size_t documentSize = 0);

  /// What an object of `kind` takes here: a string, data or array; a
  /// dictionary holding `members` members. Nothing for scalars.
  static std::size_t footprint(Kind kind, std::size_t members = 0);

  /// Room for an object of `size` bytes (8-byte aligned) that lives until drop().
  void* allocate(std::size_t size);
  /// One object allocated here is gone.
  void drop() noexcept;

  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

 private:
  // The opener's hold, large enough that drops before closing never reach 0.
  static constexpr std::int64_t kHold = std::int64_t{1} << 62;
  struct Chunk {
    Chunk* next;
  };

  Arena() = default;
  ~Arena();  // frees the chunks
  // Makes the chunk with room for `size` bytes the one allocations come from.
  void addChunk(std::size_t size);

  std::atomic<std::int64_t> live_{kHold};
  std::int64_t allocated_ = 0;  // objects handed out; only the opener allocates
  Chunk* chunks_ = nullptr;
  char* cursor_ = nullptr;
  char* limit_ = nullptr;
  std::size_t nextChunkSize_ = std::size_t{4} << 10;
  static constexpr std::size_t kLargestChunk = std::size_t{1} << 20;
  // The largest first chunk a document's counts may ask for; a larger
  // document goes on in chunks as usual.
  static constexpr std::size_t kLargestFirstChunk = std::size_t{256} << 20;
  // A large store's objects take about 3.5 times its binary file.
  static constexpr std::uint64_t kFirstChunkPerDocumentByte = 4;
};

}  // namespace zeph::plist::detail

#endif  // ZEPH_PLIST_INTERNAL_ARENA_H_
