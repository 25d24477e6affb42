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
  static Handle open();

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

  std::atomic<std::int64_t> live_{kHold};
  std::int64_t allocated_ = 0;  // objects handed out; only the opener allocates
  Chunk* chunks_ = nullptr;
  char* cursor_ = nullptr;
  char* limit_ = nullptr;
  std::size_t nextChunkSize_ = std::size_t{4} << 10;
  static constexpr std::size_t kLargestChunk = std::size_t{1} << 20;
};

}  // namespace zeph::plist::detail

#endif  // ZEPH_PLIST_INTERNAL_ARENA_H_
