#include "text/c_locale_number.h"

#include <locale.h>
#include <stdlib.h>
#ifdef __APPLE__
#include <xlocale.h>
#endif

#include <cstdio>
#include <new>
#include <string>

namespace zeph {
namespace {

// Made once and kept; "C" can only fail for want of memory.
locale_t cLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  if (c == static_cast<locale_t>(0)) throw std::bad_alloc();
  return c;
}

// The C locale on this thread while it lives. Plain strtod and snprintf then
// follow it on glibc and Darwin alike, which lack each other's *_l variants.
class CLocaleOnThisThread {
 public:
  CLocaleOnThisThread() : previous_(uselocale(cLocale())) {}
  ~CLocaleOnThisThread() { uselocale(previous_); }
  CLocaleOnThisThread(const CLocaleOnThisThread&) = delete;
  CLocaleOnThisThread& operator=(const CLocaleOnThisThread&) = delete;

 private:
  locale_t previous_;
};

}  // namespace

std::optional<double> wholeNumberInCLocale(std::string_view text) {
  if (text.empty()) return std::nullopt;
  // A NUL inside the text stops strtod early, so the end check rejects it.
  const std::string copy(text);
  char* end = nullptr;
  double value;
  {
    CLocaleOnThisThread c;
    value = std::strtod(copy.c_str(), &end);
  }
  if (end != copy.c_str() + copy.size()) return std::nullopt;
  return value;
}

RealText::RealText(double value) {
  int n;
  {
    CLocaleOnThisThread c;
    n = std::snprintf(chars_.data(), chars_.size(), "%.17g", value);
  }
  // Cannot fail or be cut short for a double; an empty text says so if it did.
  size_ = n > 0 && static_cast<std::size_t>(n) < chars_.size() ? static_cast<std::size_t>(n) : 0;
}

}  // namespace zeph
