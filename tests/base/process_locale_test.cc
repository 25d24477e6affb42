#include "base/process_locale.h"

#include <gtest/gtest.h>
#include <langinfo.h>

#include <clocale>
#include <string>

namespace zeph {
namespace {

TEST(ProcessLocale, SetsACharacterLocaleThatIsNotAsciiOnlyOnce) {
  ensureProcessLocale();
  EXPECT_STRNE(nl_langinfo(CODESET), "ANSI_X3.4-1968");
  EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");

  // A later call leaves the locale alone, whatever it is by then: setlocale()
  // must never run beside a lookup worker.
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  ASSERT_TRUE(std::setlocale(LC_CTYPE, "C"));
  ensureProcessLocale();
  EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C");
  std::setlocale(LC_CTYPE, saved.c_str());
}

}  // namespace
}  // namespace zeph
