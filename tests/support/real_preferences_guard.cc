// Linked into every test program: fails the run when the real preferences
// domain of the saver, app.zeph.zeph, differs after a test from what it was
// before. Tests must write only their sandbox or a throw-away domain
// (throwaway_suite.h); a test that reaches the real one would change the saver
// of whoever runs the tests, silently, since its own checks may still pass.
//
// On Apple the domain is what CFPreferences holds for the user, whatever HOME
// says. Elsewhere it is the file under the home folder of the account running
// the tests (from the user database, not HOME, which tests point elsewhere).

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#ifdef __APPLE__
#include <CoreFoundation/CoreFoundation.h>
#endif

namespace {

constexpr const char* kRealDomain = "app.zeph.zeph";

#ifdef __APPLE__

// CFPreferences' view of the whole domain, kept until the next look.
class DomainState {
 public:
  DomainState() {
    CFStringRef domain = CFSTR("app.zeph.zeph");
    // Picks up what another process (the installer a test starts) wrote.
    CFPreferencesAppSynchronize(domain);
    values_ = CFPreferencesCopyMultiple(nullptr, domain, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
  }
  ~DomainState() {
    if (values_) CFRelease(values_);
  }
  DomainState(const DomainState&) = delete;
  DomainState& operator=(const DomainState&) = delete;

  bool operator==(const DomainState& other) const {
    if (!values_ || !other.values_) return values_ == other.values_;
    return CFEqual(values_, other.values_);
  }
  static std::string where() { return std::string("the CFPreferences domain ") + kRealDomain; }

 private:
  CFDictionaryRef values_ = nullptr;  // owned; null when CFPreferences gave nothing
};

#else

// The domain's file as it is: its identity, time and bytes, or its absence.
class DomainState {
 public:
  DomainState() {
    struct stat st {};
    if (::lstat(where().c_str(), &st) != 0) {
      state_ = "absent";
      return;
    }
    std::ostringstream text;
    text << st.st_ino << ' ' << st.st_mode << ' ' << st.st_mtim.tv_sec << '.' << st.st_mtim.tv_nsec << ' '
         << std::ifstream(where(), std::ios::binary).rdbuf();
    state_ = text.str();
  }
  bool operator==(const DomainState& other) const { return state_ == other.state_; }

  static std::string where() {
    const passwd* account = ::getpwuid(::getuid());
    std::string home = account && account->pw_dir ? account->pw_dir : "/nonexistent";
    return home + "/Library/Preferences/" + kRealDomain + ".plist";
  }

 private:
  std::string state_;  // "absent", or the file's inode, mode, time and contents
};

#endif

// Looks after each test, so that the failure names the tests that wrote, and
// fails the run when the environment is torn down after the last test.
class RealPreferencesGuard : public ::testing::Environment {
 public:
  void SetUp() override { last_ = std::make_unique<DomainState>(); }

  void afterTest(const ::testing::TestInfo& test) {
    if (!last_) return;
    auto now = std::make_unique<DomainState>();
    if (*now == *last_) return;
    writers_.push_back(std::string(test.test_suite_name()) + "." + test.name());
    last_ = std::move(now);
  }

  void TearDown() override {
    if (!last_) return;
    if (!(DomainState() == *last_)) writers_.push_back("(outside any test)");
    if (writers_.empty()) return;
    std::string names;
    for (const std::string& name : writers_) names += "\n  " + name;
    ADD_FAILURE() << "the real preferences changed (" << DomainState::where()
                  << "); a test must use its sandbox home or a throw-away domain. Changed after:" << names;
  }

 private:
  std::unique_ptr<DomainState> last_;  // as seen after the previous test; set when the run starts
  std::vector<std::string> writers_;   // the tests after which it had changed
};

// GoogleTest owns (and deletes) environments and listeners separately, so the
// listener is a second object that only passes the news on.
class AfterEachTest : public ::testing::EmptyTestEventListener {
 public:
  explicit AfterEachTest(RealPreferencesGuard& guard) : guard_(guard) {}
  void OnTestEnd(const ::testing::TestInfo& test) override { guard_.afterTest(test); }

 private:
  RealPreferencesGuard& guard_;  // owned by GoogleTest's environments, which outlive every test
};

// Registered before main(), so every test program has it without a call.
const bool kRegistered = [] {
  auto* guard = new RealPreferencesGuard;
  ::testing::AddGlobalTestEnvironment(guard);
  ::testing::UnitTest::GetInstance()->listeners().Append(new AfterEachTest(*guard));
  return true;
}();

}  // namespace
