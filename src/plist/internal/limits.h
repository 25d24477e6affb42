#ifndef ZEPH_PLIST_INTERNAL_LIMITS_H_
#define ZEPH_PLIST_INTERNAL_LIMITS_H_

namespace zeph::plist {

/// Arrays and dictionaries nested deeper than this are refused by every
/// reader and writer: the platform's reader refuses deeper documents, and
/// the recursion of ours stays well inside the stack.
inline constexpr unsigned kMaxDepth = 512;

}  // namespace zeph::plist

#endif  // ZEPH_PLIST_INTERNAL_LIMITS_H_
