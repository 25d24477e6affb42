#include "location/saver_preferences.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "base/process_values.h"
#include "platform/files.h"
#include "platform/preferences.h"
#include "plist/format.h"
#include "support/sandbox.h"

// The suite is a file only away from Apple; there the platform store keeps it.
#ifndef __APPLE__

namespace zeph {
namespace {

namespace fs = std::filesystem;
using plist::Value;

constexpr const char* kCachedReadingKeys[] = {"cachedTempRaw",         "cachedTempIsFahrenheit",
                                              "cachedTempIsFeelsLike", "cachedTempTime",
                                              "cachedLatitude",        "cachedLongitude"};

// Points the home at a fresh folder for each test and removes it afterwards.
class SaverPreferences : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = sandbox_.path().string();
    setProcessValues(home_, false);
  }

  std::string folder() const { return home_ + "/Library/Preferences"; }
  std::string suiteFile() const { return folder() + "/app.zeph.zeph.plist"; }

  void writeSuiteBytes(const std::string& bytes) const {
    fs::create_directories(folder());
    std::ofstream(suiteFile(), std::ios::binary) << bytes;
  }
  static plist::Dictionary dict(std::initializer_list<plist::Dictionary::Member> members) {
    plist::Dictionary d;
    for (const auto& [key, value] : members) d.set(key, value);
    return d;
  }
  void writeSuite(const plist::Dictionary& d) const {
    std::vector<std::uint8_t> bytes = plist::write(Value(d), plist::Format::Binary);
    writeSuiteBytes(std::string(bytes.begin(), bytes.end()));
  }
  plist::Dictionary readSuite() const {
    Value root = plist::read(readFile(suiteFile()));
    EXPECT_TRUE(root.asDictionary());
    return root.asDictionary() ? *root.asDictionary() : plist::Dictionary{};
  }
  std::vector<std::string> filesBesideSuite() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  test_support::Sandbox sandbox_;
  std::string home_;  // the sandbox itself serves as the home
};

TEST_F(SaverPreferences, ReadsWhetherALocationIsSetFromWhateverTheSuiteHolds) {
  EXPECT_FALSE(hasLocationConfigured());  // no suite at all
  EXPECT_FALSE(storedLocationName());
  writeSuiteBytes("not a property list");
  EXPECT_FALSE(hasLocationConfigured());  // reads never fail
  writeSuite(dict({{"manualLocationName", Value::real(1)}}));
  EXPECT_FALSE(hasLocationConfigured());
  EXPECT_FALSE(storedLocationName());  // a name must be a string

  // Any manual latitude means configured, even with the IP fallback off.
  for (Value latitude : {Value::real(0), Value("nowhere"), Value::boolean(false), Value::integer(0)}) {
    writeSuite(dict({{"manualLatitude", latitude}, {"useIpLocationFallback", Value::boolean(false)}}));
    EXPECT_TRUE(hasLocationConfigured());
  }
  // Else the IP fallback decides, read like the boolean lookup.
  struct Case {
    Value value;
    bool configured;
  } cases[] = {{Value::boolean(true), true}, {Value::boolean(false), false},
               {Value::integer(1), true},    {Value::integer(0), false},
               {Value::real(0.5), true},     {Value("YES"), true},
               {Value("true"), true},        {Value(" 1"), true},
               {Value("NO"), false},         {Value("0"), false},
               {Value(""), false},           {Value(plist::Array{}), false},
               {Value("+1"), true}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    writeSuite(dict({{"useIpLocationFallback", cases[i].value}}));
    EXPECT_EQ(hasLocationConfigured(), cases[i].configured) << "case " << i;
  }
}

TEST_F(SaverPreferences, StoreLocationWritesThePlaceAndDropsTheCachedReading) {
  plist::Dictionary before;
  for (const char* key : kCachedReadingKeys) before.set(key, Value::real(1));
  before.set("useIpLocationFallback", Value::boolean(true));
  before.set("manualLocationName", Value::integer(3));
  before.set("temperatureUnit", Value("celsius"));
  before.set("history", Value(plist::Array{Value(plist::Data{1, 2, 3}), Value(plist::Date{12.5})}));
  writeSuite(before);

  storeLocation(-33.9, 18.4, "Cape Town, Western Cape");

  plist::Dictionary after = readSuite();
  ASSERT_EQ(after.size(), 7u);
  EXPECT_EQ(*after.find("manualLatitude"), Value::real(-33.9));
  EXPECT_EQ(*after.find("manualLongitude"), Value::real(18.4));
  EXPECT_EQ(*after.find("manualLocationName"), Value("Cape Town, Western Cape"));
  EXPECT_EQ(*after.find("locationSetupAsked"), Value::boolean(true));
  for (const char* key : kCachedReadingKeys) EXPECT_EQ(after.find(key), nullptr) << key;
  // Keys the installer does not own stay as they were.
  EXPECT_EQ(*after.find("useIpLocationFallback"), Value::boolean(true));
  EXPECT_EQ(*after.find("temperatureUnit"), *before.find("temperatureUnit"));
  EXPECT_EQ(*after.find("history"), *before.find("history"));

  EXPECT_TRUE(hasLocationConfigured());
  EXPECT_EQ(storedLocationName(), "Cape Town, Western Cape");
}

TEST_F(SaverPreferences, StoreLocationStartsAMissingSuiteInBinaryForm) {
  storeLocation(52.52, 13.405, "");
  std::vector<std::uint8_t> bytes = readFile(suiteFile());
  ASSERT_GE(bytes.size(), 8u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "bplist00");
  plist::Dictionary after = readSuite();
  EXPECT_EQ(after.size(), 4u);
  EXPECT_EQ(*after.find("manualLocationName"), Value(""));
  EXPECT_EQ(storedLocationName(), "");
  // Only the suite and its lock file remain: no temporary left behind.
  EXPECT_EQ(filesBesideSuite(),
            (std::vector<std::string>{"app.zeph.zeph.plist", "app.zeph.zeph.plist.lock"}));
}

TEST_F(SaverPreferences, ReadsADocumentInTheTextFormat) {
  writeSuiteBytes(R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict><key>manualLocationName</key><string>Oslo</string>
<key>showSeconds</key><true/></dict></plist>)");
  EXPECT_EQ(storedLocationName(), "Oslo");
  storeLocation(59.9, 10.7, "Oslo, Norway");
  plist::Dictionary after = readSuite();
  EXPECT_EQ(*after.find("showSeconds"), Value::boolean(true));
  EXPECT_EQ(*after.find("manualLocationName"), Value("Oslo, Norway"));
}

TEST_F(SaverPreferences, DocumentThatDoesNotParseIsMovedAsideNotLost) {
  const std::string garbage[] = {"garbage one", "bplist00 broken"};
  for (const std::string& bytes : garbage) {
    writeSuiteBytes(bytes);
    storeLocation(1, 2, "here");
  }
  // A root that is not a dictionary is no suite either.
  std::vector<std::uint8_t> array = plist::write(Value(plist::Array{Value("x")}), plist::Format::Binary);
  writeSuiteBytes(std::string(array.begin(), array.end()));
  storeLocation(3, 4, "there");

  EXPECT_EQ(storedLocationName(), "there");
  std::vector<std::string> kept;
  for (const std::string& name : filesBesideSuite()) {
    if (name.rfind("app.zeph.zeph.plist.corrupt-", 0) == 0) {
      std::ifstream in(folder() + "/" + name, std::ios::binary);
      kept.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }
  // All three are kept, even when moved aside within the same second.
  ASSERT_EQ(kept.size(), 3u);
  std::sort(kept.begin(), kept.end());
  std::vector<std::string> expected = {garbage[0], garbage[1], std::string(array.begin(), array.end())};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(kept, expected);
}

TEST_F(SaverPreferences, SuiteThatCannotBeReadIsLeftAlone) {
  // A folder where the document should be: neither replaced nor moved.
  fs::create_directories(suiteFile());
  // ...and the failure reaches the caller, naming the file.
  try {
    storeLocation(1, 2, "here");
    ADD_FAILURE() << "a change that was not stored returned normally";
  } catch (const std::system_error& e) {
    EXPECT_NE(std::string(e.what()).find(suiteFile()), std::string::npos) << e.what();
  }
  EXPECT_TRUE(fs::is_directory(suiteFile()));
  EXPECT_FALSE(hasLocationConfigured());
}

TEST_F(SaverPreferences, ReaderInAnotherProcessSeesOldOrNewNeverTorn) {
  // A large member that every version keeps, so a torn write would show.
  constexpr std::size_t kPadding = 128 * 1024;
  plist::Dictionary start;
  start.set("padding", Value(plist::Data(kPadding, 0x5A)));
  writeSuite(start);
  storeLocation(0, 0, "name-0");

  int writerDone[2];
  ASSERT_EQ(::pipe(writerDone), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Only plain calls here, and _exit: no test framework in the child. It
    // reads until the writer is done (and at least once more), at most 5000 times.
    ::close(writerDone[1]);
    bool lastRound = false;
    for (int i = 0; i < 5000 && !lastRound; ++i) {
      pollfd done = {writerDone[0], POLLIN, 0};
      lastRound = ::poll(&done, 1, 0) != 0;
      try {
        Value root = plist::read(readFile(suiteFile()));
        const Value* name = plist::member(root, "manualLocationName");
        const Value* padding = plist::member(root, "padding");
        if (!name || !name->asString() || name->asString()->rfind("name-", 0) != 0) ::_exit(2);
        if (!padding || !padding->asData() || padding->asData()->size() != kPadding) ::_exit(3);
      } catch (...) {
        ::_exit(1);
      }
    }
    ::_exit(0);
  }
  ::close(writerDone[0]);
  for (int i = 1; i <= 60; ++i) storeLocation(i, i, "name-" + std::to_string(i));
  ::close(writerDone[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: did not parse, 2: wrong name, 3: padding lost";
  EXPECT_EQ(storedLocationName(), "name-60");
}

TEST_F(SaverPreferences, ChangesFromTwoProcessesAreBothKept) {
  // Each change is one locked read-modify-write, so neither process loses the other's keys.
  auto addKeys = [](const std::string& prefix) {
    for (int i = 0; i < 40; ++i) {
      applyPreferenceChange(prefsSuite,
                            {.set = {{prefix + std::to_string(i), Value::integer(i)}}, .remove = {}});
    }
  };
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    addKeys("child");
    ::_exit(0);
  }
  addKeys("parent");
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(readSuite().size(), 80u);
}

}  // namespace
}  // namespace zeph

#endif  // __APPLE__

#include "support/sandbox.h"
#include "support/throwaway_suite.h"

namespace zeph {
namespace {

// The same on every platform; on Apple through the platform's own store, in a
// domain of the test's own.
TEST(SaverPreferencesStore, StoredPlaceReadsBackAndDropsTheCachedReading) {
  test_support::Sandbox home;
  setProcessValues(home.path().string(), false);
  test_support::ThrowAwaySuite suite;
  applyPreferenceChange(prefsSuite, {.set = {{"cachedTempRaw", plist::Value::real(21.5)}}, .remove = {}});
  ASSERT_TRUE(preferenceValue(prefsSuite, "cachedTempRaw"));
  EXPECT_FALSE(hasLocationConfigured());

  storeLocation(59.91, 10.75, "Oslo, Norway");
  EXPECT_TRUE(hasLocationConfigured());
  EXPECT_EQ(storedLocationName(), "Oslo, Norway");
  std::optional<plist::Value> latitude = preferenceValue(prefsSuite, "manualLatitude");
  ASSERT_TRUE(latitude && latitude->asReal());
  EXPECT_EQ(*latitude->asReal(), 59.91);
  EXPECT_FALSE(preferenceValue(prefsSuite, "cachedTempRaw"));
}

}  // namespace
}  // namespace zeph
