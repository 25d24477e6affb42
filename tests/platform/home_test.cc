#include "platform/home.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace zeph {
namespace {

// Sets $HOME (or unsets it, for nullptr) and puts the old value back afterwards.
class ScopedHome {
 public:
  explicit ScopedHome(const char* value) {
    if (const char* old = std::getenv("HOME")) old_ = old;
    if (value) {
      ::setenv("HOME", value, 1);
    } else {
      ::unsetenv("HOME");
    }
  }
  ~ScopedHome() {
    if (old_) {
      ::setenv("HOME", old_->c_str(), 1);
    } else {
      ::unsetenv("HOME");
    }
  }

 private:
  std::optional<std::string> old_;  // $HOME before, none when it was unset
};

TEST(CurrentUserHome, PrefersAnAbsoluteHomeVariable) {
  {
    ScopedHome home("/Users/Zoë Smith//");
    EXPECT_EQ(currentUserHome(), "/Users/Zoë Smith");
  }
  {
    ScopedHome home("/");
    EXPECT_EQ(currentUserHome(), "");
  }
  const passwd* entry = ::getpwuid(::getuid());
  ASSERT_NE(entry, nullptr);
  std::string fromDatabase = entry->pw_dir;
  while (!fromDatabase.empty() && fromDatabase.back() == '/') fromDatabase.pop_back();
  for (const char* ignored : {"relative/home", "", static_cast<const char*>(nullptr)}) {
    ScopedHome home(ignored);
    EXPECT_EQ(currentUserHome(), fromDatabase) << (ignored ? ignored : "(unset)");
  }
}

TEST(UserHome, ComesFromTheUserDatabase) {
  const passwd* entry = ::getpwuid(::getuid());
  ASSERT_NE(entry, nullptr);
  const std::string name = entry->pw_name;
  std::string fromDatabase = entry->pw_dir;
  while (!fromDatabase.empty() && fromDatabase.back() == '/') fromDatabase.pop_back();
  ScopedHome ignored("/elsewhere");  // the variable is the caller's, not the named user's
  EXPECT_EQ(userHome(name), fromDatabase);
  EXPECT_EQ(userHome("zeph-no-such-user"), std::nullopt);
  EXPECT_EQ(userHome(""), std::nullopt);
}

}  // namespace
}  // namespace zeph
