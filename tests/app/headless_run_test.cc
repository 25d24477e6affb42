// Headless runs of the built installer that end before the wallpaper agent is
// restarted, so they may run beside every other test.

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/file_calls.h"
#include "plist/format.h"
#include "support/installer_runner.h"
#include "support/sandbox.h"
#include "support/store_builders.h"
#include "wallpaper_store/store_backups.h"

namespace zeph {
namespace {

namespace fs = std::filesystem;
using testing::backupFolder;
using testing::readBytes;
using testing::RunResult;
using testing::runInstaller;
using testing::Sandbox;
using testing::saverFolder;
using testing::storeFile;
using testing::writeBytes;

const std::string kNotADictionaryLine = "error: Couldn't read the macOS screensaver settings file.\n";
const std::vector<std::uint8_t> kArrayRootStore = [] {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><array/></plist>\n";
  return std::vector<std::uint8_t>(xml.begin(), xml.end());
}();

bool isOneErrorLine(const std::string& err) {
  return err.rfind("error: ", 0) == 0 && err.size() > 8 && err.find('\n') == err.size() - 1;
}

TEST(HeadlessRun, MissingBundleStopsBeforeAnythingIsCreated) {
  Sandbox box;
  std::string installer = testing::installerCopy(box.path() / "prefix");
  fs::path home = box.path() / "home";
  fs::create_directory(home);
  RunResult r = runInstaller({"--apply"}, home.string(), installer);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "error: The screensaver is missing from this installer. Please download zeph again from zeph.app.\n");
  EXPECT_FALSE(fs::exists(home / "Library"));
}

TEST(HeadlessRun, StoreThatIsNotADictionaryStopsAfterTheSaverIsInstalled) {
  Sandbox box;
  fs::path home = box.path() / "Zoë Smith";
  writeBytes(storeFile(home), kArrayRootStore);
  RunResult r = runInstaller({"--apply"}, home.string());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, kNotADictionaryLine);
  EXPECT_TRUE(fs::exists(saverFolder(home) / "Contents/Info.plist"));
  EXPECT_EQ(readBytes(storeFile(home)), kArrayRootStore);
}

TEST(HeadlessRun, FindsTheBundleInResourcesFirstThenInShare) {
  Sandbox box;
  fs::path prefix = box.path() / "prefix";
  std::string installer = testing::installerCopy(prefix);
  testing::bundleWithMarker(prefix, "Resources/zeph.saver", "from-resources");
  testing::bundleWithMarker(prefix, "share/zeph/zeph.saver", "from-share");
  fs::path home = box.path() / "home";
  writeBytes(storeFile(home), kArrayRootStore);  // stops the run right after the copy

  EXPECT_EQ(runInstaller({"--apply"}, home.string(), installer).err, kNotADictionaryLine);
  EXPECT_TRUE(fs::exists(saverFolder(home) / "Contents/from-resources"));
  EXPECT_FALSE(fs::exists(saverFolder(home) / "Contents/from-share"));

  // A plain file of that name is no bundle: the next place is used.
  fs::remove_all(prefix / "Resources/zeph.saver");
  writeBytes(prefix / "Resources/zeph.saver", {'x'});
  EXPECT_EQ(runInstaller({"--apply"}, home.string(), installer).err, kNotADictionaryLine);
  EXPECT_TRUE(fs::exists(saverFolder(home) / "Contents/from-share"));
  EXPECT_FALSE(fs::exists(saverFolder(home) / "Contents/from-resources"));
}

TEST(HeadlessRun, ScreenSaversFolderThatIsAFileEndsTheRunUntouched) {
  Sandbox box;
  fs::path home = box.path() / "home";
  writeBytes(home / "Library/Screen Savers", {'f'});
  std::vector<std::uint8_t> store = plist::write(testing::realisticStore(), plist::Format::Xml);
  writeBytes(storeFile(home), store);
  RunResult r = runInstaller({"--apply"}, home.string());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(isOneErrorLine(r.err)) << r.err;
  EXPECT_EQ(r.err.rfind("error: mkdir(" + (home / "Library/Screen Savers").string() + "): ", 0), 0u) << r.err;
  EXPECT_EQ(readBytes(storeFile(home)), store);
  EXPECT_FALSE(fs::exists(backupFolder(home)));
}

// Runs as an unprivileged user: as root, permission bits stop nothing.
TEST(HeadlessRun, UnwritableStoreIsReportedAndLeftAsItWas) {
  const bool asRoot = ::geteuid() == 0;
  if (asRoot && !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs setpriv to drop root";
  Sandbox box;
  fs::permissions(box.path(), fs::perms::all & ~fs::perms::others_write & ~fs::perms::group_write);
  std::string installer = testing::installerCopy(box.path() / "prefix");
  fs::create_directories(box.path() / "prefix/share/zeph");
  fs::copy(fs::path(ZEPH_SOURCE_DIR) / "resources/zeph.saver", box.path() / "prefix/share/zeph/zeph.saver",
           fs::copy_options::recursive);
  fs::path home = box.path() / "home";
  std::vector<std::uint8_t> store = plist::write(testing::realisticStore(), plist::Format::Binary);
  writeBytes(storeFile(home), store);
  if (asRoot) {
    for (const auto& entry : fs::recursive_directory_iterator(box.path())) {
      ASSERT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0);
    }
  }
  fs::permissions(storeFile(home), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(storeFile(home).parent_path(), fs::perms::owner_read | fs::perms::owner_exec |
                                                     fs::perms::group_read | fs::perms::group_exec |
                                                     fs::perms::others_read | fs::perms::others_exec);
  std::vector<std::string> argv{installer, "--apply"};
  if (asRoot) argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});

  RunResult r = testing::runProgram(argv, home.string());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(isOneErrorLine(r.err)) << r.err;
  EXPECT_NE(r.err.find("Permission denied"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(storeFile(home).parent_path().string() + ": "), std::string::npos) << r.err;
  EXPECT_EQ(readBytes(storeFile(home)), store);
}

// Never "0 slots" and success for a store that could not be looked at, and
// never a hang on one that is not a file.
TEST(HeadlessRun, StoreThatCannotBeLookedAtIsAnErrorNamingIt) {
  struct Case {
    const char* name;
    void (*make)(const fs::path& store);
    const char* cause;
  };
  const Case cases[] = {
      {"FIFO", [](const fs::path& store) { ::mkfifo(store.c_str(), 0600); }, ": not a regular file (a FIFO)"},
      {"dangling link", [](const fs::path& store) { fs::create_symlink("Old.plist", store); },
       " is a dangling link to Old.plist"},
      {"terminal", [](const fs::path& store) { fs::create_symlink("/dev/tty", store); },
       ": not a regular file (a character device)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box;
    fs::path home = box.path() / "home";
    fs::create_directories(storeFile(home).parent_path());
    c.make(storeFile(home));
    RunResult r = runInstaller({"--apply"}, home.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(isOneErrorLine(r.err)) << r.err;
    EXPECT_EQ(r.err.rfind("error: " + storeFile(home).string() + c.cause, 0), 0u) << r.err;
    EXPECT_FALSE(fs::exists(backupFolder(home)));
  }
}

// The fault seam is in the builds that ask for it and in no other.
TEST(HeadlessRun, FaultSeamOnlyWhereBuiltIn) {
  std::vector<std::uint8_t> binary = readBytes(ZEPH_INSTALLER_PATH);
  const std::string mark = "zeph fault: ";
  bool found = std::search(binary.begin(), binary.end(), mark.begin(), mark.end()) != binary.end();
  EXPECT_EQ(found, file_calls::faultInjectionBuilt());
}

TEST(Entry, HomeThatCannotBeFoundStopsBeforeAnythingIsTouched) {
  // A user id without a passwd entry, with HOME unset or not absolute.
  constexpr uid_t kUnknownUser = 54321;
  if (::geteuid() != 0 || !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs root and setpriv";
  if (::getpwuid(kUnknownUser) != nullptr) GTEST_SKIP() << "uid 54321 has a passwd entry here";
  Sandbox box;
  fs::permissions(box.path(), fs::perms::all & ~fs::perms::others_write & ~fs::perms::group_write);
  std::string installer = testing::installerCopy(box.path() / "prefix");
  const std::vector<std::string> argv{"/usr/bin/setpriv", "--reuid=54321", "--regid=54321", "--clear-groups",
                                      installer, "--apply"};
  const std::string line =
      "error: Couldn't find your home folder. Set HOME to its full path (starting with \"/\") and try again.\n";
  for (const std::optional<std::string>& home : {std::optional<std::string>(), std::optional<std::string>("rel")}) {
    RunResult r = testing::runProgram(argv, home);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, line);
  }
}

TEST(Entry, ApplyWithUninstallIsAUsageErrorThatTouchesNothing) {
  Sandbox box;
  fs::path home = box.path() / "home";
  std::vector<std::uint8_t> store = plist::write(testing::realisticStore(), plist::Format::Binary);
  writeBytes(storeFile(home), store);
  for (std::vector<std::string> args : {std::vector<std::string>{"--apply", "--uninstall"},
                                        std::vector<std::string>{"--uninstall", "x", "--apply"}}) {
    RunResult r = runInstaller(args, home.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "error: --apply and --uninstall cannot be used together\n");
  }
  EXPECT_EQ(readBytes(storeFile(home)), store);
  EXPECT_EQ(testing::namesIn(home / "Library"), std::vector<std::string>{"Application Support"});
}

TEST(Entry, OnlyTheExactFlagSelectsTheHeadlessRun) {
  Sandbox box;
  fs::path home = box.path() / "home";
  writeBytes(storeFile(home), plist::write(testing::realisticStore(), plist::Format::Binary));
  for (const char* flag : {"--APPLY", "--apply=1", "-apply", "apply", "--apply "}) {
    RunResult r = runInstaller({flag}, home.string());
    // An interactive run with nobody to answer installs nothing and prints no result.
    EXPECT_EQ(r.out.find("installed "), std::string::npos) << flag << ": " << r.out;
    EXPECT_FALSE(fs::exists(home / "Library/Screen Savers")) << flag;
  }
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// `zeph-store show` reads Index2.plist beside Index.plist, by default and
// when given the first store's path, and shows each record's type.
TEST(ZephStoreShow, ShowsBothStoresOfAMacos26Home) {
  const std::string tool = std::string(ZEPH_BINARY_DIR) + "/bin/zeph-store";
  Sandbox box;
  const fs::path home = box.path() / "home";
  const fs::path first = storeFile(home);
  const fs::path second = testing::secondStoreFile(home);
  writeBytes(first, plist::write(testing::macos26FirstStore(), plist::Format::Binary));
  writeBytes(second, plist::write(testing::macos26SecondStore(), plist::Format::Binary));

  for (const std::vector<std::string>& argv : {std::vector<std::string>{tool, "show"},
                                               std::vector<std::string>{tool, "show", first.string()}}) {
    SCOPED_TRACE(argv.size());
    RunResult r = testing::runProgram(argv, home.string());
    EXPECT_EQ(r.status, 0) << r.err;
    std::size_t split = r.out.find(second.string() + ":\n");
    ASSERT_NE(split, std::string::npos) << r.out;
    EXPECT_EQ(r.out.rfind(first.string() + ":\n", 0), 0u) << r.out;
    const std::string one = r.out.substr(0, split);
    const std::string two = r.out.substr(split);
    EXPECT_EQ(occurrences(one, "(\"linked\", desktop and screen saver)"), 1u) << one;
    EXPECT_EQ(occurrences(one, "(\"individual\")"), 2u) << one;
    EXPECT_EQ(occurrences(two, "(\"linked\", desktop and screen saver)"), 8u) << two;
    EXPECT_EQ(occurrences(r.out, "0 slots hold the zeph saver\n"), 2u) << r.out;
  }

  // Only the second store: it is the one shown.
  fs::remove(first);
  RunResult r = testing::runProgram({tool, "show"}, home.string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(occurrences(r.out, "(\"linked\", desktop and screen saver)"), 8u) << r.out;
  EXPECT_EQ(r.out.find(":\n"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace zeph
