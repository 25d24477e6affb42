// Headless runs of the built installer that end before the wallpaper agent is
// restarted, so they may run beside every other test.

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
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
using test_support::backupFolder;
using test_support::readBytes;
using test_support::runInstaller;
using test_support::RunResult;
using test_support::Sandbox;
using test_support::saverFolder;
using test_support::storeFile;
using test_support::writeBytes;

const std::string kNotADictionaryLine = "error: Couldn't read the macOS screensaver settings file.\n";
const std::vector<std::uint8_t> kArrayRootStore = [] {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><array/></plist>\n";
  return std::vector<std::uint8_t>(xml.begin(), xml.end());
}();

bool isOneErrorLine(const std::string& err) {
  return err.rfind("error: ", 0) == 0 && err.size() > 8 && err.find('\n') == err.size() - 1;
}

// A run that stops: exit status 1, one error line and nothing on standard
// output, the store's bytes as they were.
TEST(HeadlessRun, StopsWithOneErrorLineAndTheStoreAsItWas) {
  using Make = void (*)(const fs::path& home);
  struct Case {
    const char* name;
    Make make;
    std::string error;  // how the line starts, "HOME" standing for the home
    std::optional<bool> saverInstalled;
    bool backedUp = false;
  };
  static const Make kRealisticStore = [](const fs::path& home) {
    test_support::putPlist(storeFile(home), test_support::realisticStore());
  };
  const std::string store = "error: HOME/Library/Application Support/com.apple.wallpaper/Store/Index.plist";
  const Case cases[] = {
      {"no bundle beside the installer", kRealisticStore,
       "error: The screensaver is missing from this installer. Please download zeph again from zeph.app.\n",
       false},
      {"store not a dictionary", [](const fs::path& home) { writeBytes(storeFile(home), kArrayRootStore); },
       kNotADictionaryLine, true, true},
      {"Screen Savers a file",
       [](const fs::path& home) {
         writeBytes(home / "Library/Screen Savers", {'f'});
         kRealisticStore(home);
       },
       "error: mkdir(HOME/Library/Screen Savers): ", false},
      // Never "0 slots" and success for a store that could not be looked at,
      // and never a hang on one that is not a file.
      {"FIFO", [](const fs::path& home) { ::mkfifo(storeFile(home).c_str(), 0600); },
       store + ": not a regular file (a FIFO)", std::nullopt},
      {"dangling link", [](const fs::path& home) { fs::create_symlink("Old.plist", storeFile(home)); },
       store + " is a dangling link to Old.plist", std::nullopt},
      {"terminal", [](const fs::path& home) { fs::create_symlink("/dev/tty", storeFile(home)); },
       store + ": not a regular file (a character device)", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box;
    const fs::path home = box.path() / "Zoë Smith";
    fs::create_directories(storeFile(home).parent_path());
    c.make(home);
    const bool regular = fs::is_regular_file(fs::symlink_status(storeFile(home)));
    const std::vector<std::uint8_t> before =
        regular ? readBytes(storeFile(home)) : std::vector<std::uint8_t>{};
    const bool noBundle = c.error.find("missing from this installer") != std::string::npos;
    RunResult r = runInstaller({"--apply"}, home.string(),
                               noBundle ? test_support::installerCopy(box.path() / "prefix")
                                        : test_support::installerPath().string());
    std::string error = c.error;
    for (std::size_t at; (at = error.find("HOME")) != std::string::npos;) error.replace(at, 4, home.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(isOneErrorLine(r.err)) << r.err;
    EXPECT_EQ(r.err.rfind(error, 0), 0u) << r.err;
    if (regular) {
      EXPECT_EQ(readBytes(storeFile(home)), before);
    }
    if (c.saverInstalled) {
      EXPECT_EQ(fs::is_directory(saverFolder(home).parent_path()), *c.saverInstalled);
    }
    EXPECT_EQ(fs::exists(backupFolder(home)), c.backedUp);
    if (noBundle) {
      EXPECT_EQ(test_support::namesIn(home / "Library"), std::vector<std::string>{"Application Support"});
    }
  }
}

TEST(HeadlessRun, FindsTheBundleInResourcesFirstThenInShare) {
  Sandbox box;
  fs::path prefix = box.path() / "prefix";
  std::string installer = test_support::installerCopy(prefix);
  writeBytes(prefix / "Resources/zeph.saver/Contents/from-resources", {'m'});  // two bundles, told apart
  writeBytes(prefix / "share/zeph/zeph.saver/Contents/from-share", {'m'});
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

// Runs as an unprivileged user: as root, permission bits stop nothing.
TEST(HeadlessRun, UnwritableStoreIsReportedAndLeftAsItWas) {
  const bool asRoot = ::geteuid() == 0;
  if (asRoot && !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs setpriv to drop root";
  Sandbox box;
  fs::permissions(box.path(), fs::perms::all & ~fs::perms::others_write & ~fs::perms::group_write);
  std::string installer = test_support::installerWithBundle(box.path() / "prefix");
  fs::path home = box.path() / "home";
  std::vector<std::uint8_t> store = test_support::putPlist(storeFile(home), test_support::realisticStore());
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
  RunResult r = test_support::runProgram(asRoot ? test_support::asUser(65534, argv) : argv, home.string());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(isOneErrorLine(r.err)) << r.err;
  EXPECT_NE(r.err.find("Permission denied"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(storeFile(home).parent_path().string() + ": "), std::string::npos) << r.err;
  EXPECT_EQ(readBytes(storeFile(home)), store);
}

// The fault seam is in the builds that ask for it and in no other.
TEST(HeadlessRun, FaultSeamOnlyWhereBuiltIn) {
  std::vector<std::uint8_t> binary = readBytes(test_support::installerPath());
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
  std::string installer = test_support::installerCopy(box.path() / "prefix");
  const std::vector<std::string> argv = test_support::asUser(kUnknownUser, {installer, "--apply"});
  const std::string line =
      "error: Couldn't find your home folder. Set HOME to its full path (starting with \"/\") and try "
      "again.\n";
  for (const std::optional<std::string>& home :
       {std::optional<std::string>(), std::optional<std::string>("rel")}) {
    RunResult r = test_support::runProgram(argv, home);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, line);
  }
}

// --refresh-bundle swaps an installed bundle for the carried one and touches
// nothing else; with none installed it changes nothing and says so.
TEST(HeadlessRun, RefreshReplacesOnlyAnInstalledBundle) {
  Sandbox box;
  fs::path home = box.path() / "home";
  const std::vector<std::uint8_t> store =
      test_support::putPlist(storeFile(home), test_support::realisticStore());
  const fs::path saver = saverFolder(home);
  RunResult none = runInstaller({"--refresh-bundle"}, home.string());
  EXPECT_EQ(none.status, 0) << none.err;
  EXPECT_EQ(none.out, "no zeph.saver is installed at " + saver.string() + "; nothing changed\n");
  EXPECT_FALSE(fs::exists(saver.parent_path()));

  writeBytes(saver / "Contents/Old.txt", {'o'});
  RunResult refreshed = runInstaller({"--refresh-bundle"}, home.string());
  EXPECT_EQ(refreshed.status, 0) << refreshed.err;
  EXPECT_EQ(refreshed.out, "refreshed " + saver.string() + "\n");
  EXPECT_FALSE(fs::exists(saver / "Contents/Old.txt"));
  EXPECT_TRUE(fs::is_regular_file(saver / "Contents/Info.plist"));
  EXPECT_EQ(readBytes(storeFile(home)), store);
  EXPECT_FALSE(fs::exists(backupFolder(home)));  // no backup, no kept selection, no marker
}

// Arguments that make no headless run: a usage error, or the interactive run,
// which with nobody to answer installs nothing and prints no result.
TEST(Entry, OnlyTheExactFlagWithoutUninstallSelectsTheHeadlessRun) {
  Sandbox box;
  fs::path home = box.path() / "home";
  const std::vector<std::uint8_t> store =
      test_support::putPlist(storeFile(home), test_support::realisticStore());
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {{{"--apply", "--uninstall"}, 2},
                        {{"--uninstall", "x", "--apply"}, 2},
                        {{"--refresh-bundle", "--apply"}, 2},
                        {{"--uninstall", "--refresh-bundle"}, 2},
                        {{"--APPLY"}, 2},
                        {{"--apply=1"}, 2},
                        {{"-apply"}, 2},
                        {{"--apply "}, 2},
                        {{"apply"}, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    RunResult r = runInstaller(c.args, home.string());
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(readBytes(storeFile(home)), store);
  EXPECT_EQ(test_support::namesIn(home / "Library"), std::vector<std::string>{"Application Support"});
}

// Runs one after the other on a home whose store is damaged: each error says
// what the run had done by then, that the store is as it was, and where the
// backups are; only a run that took a backup says so.
TEST(HeadlessRun, DamagedStoreErrorSaysWhatWasDoneAndWhereTheBackupsAre) {
  struct Run {
    std::vector<std::string> args;
    std::string ending;  // "FOLDER" stands for the backup folder
  };
  const std::string tail = "; the store is unchanged; backups are in FOLDER\n";
  const std::vector<std::vector<Run>> series{
      {{{"--apply"}, "; zeph.saver was already installed and selected, and the store backed up" + tail},
       {{"--apply"}, "; zeph.saver was already installed and selected" + tail}},
      {{{"--uninstall"}, "; a backup of the store was taken" + tail}, {{"--uninstall"}, tail}},
  };
  for (const std::vector<Run>& runs : series) {
    Sandbox box;
    const fs::path home = box.path() / "Zoë Smith";
    const std::vector<std::uint8_t> damaged{'b', 'p', 'l', 'i', 's', 't', '0', '0', 0x08, 0x09};
    writeBytes(storeFile(home), damaged);
    for (const Run& run : runs) {
      SCOPED_TRACE(run.args[0] + run.ending);
      RunResult r = runInstaller(run.args, home.string());
      std::string ending = run.ending;
      ending.replace(ending.find("FOLDER"), 6, backupFolder(home).string());
      EXPECT_EQ(r.status, 1);
      EXPECT_TRUE(isOneErrorLine(r.err)) << r.err;
      EXPECT_EQ(r.err.rfind("error: " + storeFile(home).string() + ": ", 0), 0u) << r.err;
      ASSERT_GE(r.err.size(), ending.size()) << r.err;
      EXPECT_EQ(r.err.substr(r.err.size() - ending.size()), ending);
      EXPECT_EQ(readBytes(storeFile(home)), damaged);
    }
    EXPECT_EQ(test_support::backupNames(home).size(), 1u);
  }
}

}  // namespace
}  // namespace zeph
