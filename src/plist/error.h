#ifndef ZEPH_PLIST_ERROR_H_
#define ZEPH_PLIST_ERROR_H_

#include <stdexcept>
#include <string>

namespace zeph::plist {

/// The codec's one error: a document that cannot be read, or a value that
/// cannot be written. The message says what is wrong and where, e.g.
/// "binary plist: offset 0x1F0: ref 12 >= 8 objects" or "XML plist: line 4: unknown tag <foo>".
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace zeph::plist

#endif  // ZEPH_PLIST_ERROR_H_
