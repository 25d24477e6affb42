#include "base/process_locale.h"

#include <langinfo.h>

#include <clocale>
#include <cstring>

namespace zeph {

void ensureProcessLocale() {
  static const bool set = [] {
    // ncursesw draws wide characters in the locale's encoding; ASCII has no
    // degree sign.
    std::setlocale(LC_CTYPE, "");
    if (std::strcmp(nl_langinfo(CODESET), "ANSI_X3.4-1968") == 0) std::setlocale(LC_CTYPE, "C.UTF-8");
    return true;
  }();
  (void)set;
}

}  // namespace zeph
