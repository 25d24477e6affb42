#include "saver_install/install_saver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "base/process_values.h"
#include "base/system_effects.h"
#include "plist/format.h"
#include "saver_install/copy_tree.h"
#include "saver_install/legacy_selection.h"
#include "support/sandbox.h"

namespace zeph {
namespace {

namespace fs = std::filesystem;
using test_support::readBytes;
using test_support::readText;
using test_support::Sandbox;
using test_support::writeBytes;

const fs::path kBundleInfo = test_support::sourceDir() / "resources/zeph.saver/Contents/Info.plist";

// The test binary sits in the build tree, whose share/zeph holds the bundle.
class InstallSaver : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = box_.path() / "Zoë Smith";
    fs::create_directory(home_);
    setProcessValues(home_.string(), true);
  }
  void expectFreshCopy() const {
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(saverDest)));
    EXPECT_EQ(readBytes(fs::path(saverDest) / "Contents/Info.plist"), readBytes(kBundleInfo));
  }
  Sandbox box_;
  fs::path home_;
};

TEST_F(InstallSaver, CreatesTheMissingFoldersThenReplacesAnEarlierCopyWholesale) {
  ASSERT_FALSE(fs::exists(home_ / "Library"));
  installSaver();
  EXPECT_EQ(saverDest, (home_ / "Library/Screen Savers/zeph.saver").string());
  expectFreshCopy();
  writeBytes(fs::path(saverDest) / "Contents/Old.txt", {'o', 'l', 'd'});
  writeBytes(fs::path(saverDest) / "Contents/Info.plist", {'x'});
  fs::create_directories(fs::path(saverDest) / "Contents/Resources/Deep");
  installSaver();
  expectFreshCopy();
  EXPECT_FALSE(fs::exists(fs::path(saverDest) / "Contents/Old.txt"));
  EXPECT_FALSE(fs::exists(fs::path(saverDest) / "Contents/Resources"));
}

TEST_F(InstallSaver, LegacySelectionPassesThePathAsOneArgument) {
  std::vector<std::vector<std::string>> calls;
  std::string program;
  {
    ScopedSystemEffects effects([&](SystemEffects& replaced) {
      replaced.runProgram = [&](const std::string& path, const std::vector<std::string>& args) {
        program = path;
        calls.push_back(args);
        return 0;
      };
    });
    selectLegacyModule();
  }
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(program.front(), '/');
  const std::vector<std::string> expected{"-currentHost", "write", "com.apple.screensaver",
                                          "moduleDict",   "-dict", "moduleName",
                                          "zeph",         "path",  saverDest,
                                          "type",         "0"};
  EXPECT_EQ(calls[0], expected);
}

TEST_F(InstallSaver, ReplacesAFileOrALinkButNeverItsTarget) {
  writeBytes(saverDest, {'f', 'i', 'l', 'e'});
  installSaver();
  expectFreshCopy();

  // A link to the user's own folder: the link goes, the folder stays untouched.
  fs::path elsewhere = box_.path() / "precious";
  writeBytes(elsewhere / "keep.txt", {'k'});
  fs::remove_all(saverDest);
  fs::create_directory_symlink(elsewhere, saverDest);
  installSaver();
  expectFreshCopy();
  EXPECT_EQ(readText(elsewhere / "keep.txt"), "k");
  EXPECT_FALSE(fs::exists(elsewhere / "Contents"));

  // A dangling link does not exist for a plain existence test, but still blocks the copy.
  fs::remove_all(saverDest);
  fs::create_symlink(box_.path() / "gone", saverDest);
  installSaver();
  expectFreshCopy();
}

TEST_F(InstallSaver, NamesWhatBlocksTheScreenSaversFolder) {
  const fs::path folder = home_ / "Library/Screen Savers";
  writeBytes(folder, {'n', 'o', 't', ' ', 'a', ' ', 'f', 'o', 'l', 'd', 'e', 'r'});
  std::string message = test_support::anyErrorOf(installSaver);
  EXPECT_EQ(message.rfind("mkdir(" + folder.string() + "): ", 0), 0u) << message;
  EXPECT_EQ(readText(folder), "not a folder");
  fs::remove(folder);
  fs::create_symlink("/nonexistent/savers", folder);
  EXPECT_EQ(test_support::anyErrorOf(installSaver),
            folder.string() + " is a dangling link to /nonexistent/savers: No such file or directory");
}

// The copy cannot be made: the old bundle stays whole at saverDest and no
// half bundle or work folder is left.
TEST_F(InstallSaver, KeepsTheOldBundleWhenTheNewOneCannotBeMade) {
  // The step runs as an unprivileged user, who must reach the bundle carried
  // in the build tree; a build inside a private folder (/root) is out of reach.
  const std::string carried = carriedSaver();
  const auto reachable = [&] { return ::access(carried.c_str(), R_OK | X_OK) == 0 ? 0 : 1; };
  if (test_support::runUnprivileged(reachable) != 0) {
    GTEST_SKIP() << "an unprivileged user cannot reach " << carried << "; build where anyone can pass";
  }
  writeBytes(fs::path(saverDest) / "Contents/Info.plist", {'o', 'l', 'd'});
  const fs::path folder = fs::path(saverDest).parent_path();
  test_support::openUp(saverDest, false);
  ::chmod(folder.c_str(), 0555);
  std::string message = test_support::errorUnprivileged([] { installSaver(); });
  EXPECT_EQ(message.rfind("mkdir(" + folder.string() + "/.zeph.saver.new-", 0), 0u) << message;
  EXPECT_NE(message.find("Permission denied"), std::string::npos) << message;
  ::chmod(folder.c_str(), 0755);
  EXPECT_EQ(readText(fs::path(saverDest) / "Contents/Info.plist"), "old");
  EXPECT_EQ(test_support::namesIn(folder), std::vector<std::string>{"zeph.saver"});
}

TEST_F(InstallSaver, ClearsWhatInterruptedRunsLeftAndRepairsAMissingBundle) {
  const fs::path folder = home_ / "Library/Screen Savers";
  writeBytes(folder / ".zeph.saver.new-123/Contents/MacOS/zeph", {'h', 'a', 'l', 'f'});
  writeBytes(folder / ".zeph.saver.old-456/Contents/Resources/ReadOnly/x", {'o'});
  ::chmod((folder / ".zeph.saver.old-456/Contents/Resources/ReadOnly").c_str(), 0555);
  writeBytes(folder / "Other.saver/Contents/Info.plist", {'k'});
  installSaver();
  expectFreshCopy();
  EXPECT_EQ(test_support::namesIn(folder), (std::vector<std::string>{"Other.saver", "zeph.saver"}));
}

// A run stopped between the two renames of a swap (where the file system
// cannot exchange two names) leaves no bundle, the new copy and the old one:
// the complete new copy goes back in place, the old one where it is alone.
TEST_F(InstallSaver, PutsBackTheCopyAnInterruptedSwapLeftAside) {
  const fs::path folder = home_ / "Library/Screen Savers";
  const struct {
    const char* name;
    std::vector<const char*> left;  // work folders, each holding Contents/Info.plist with its own name
    bool installed;                 // a bundle at zeph.saver too
    const char* restored;           // what comes back; nullptr: nothing
  } cases[] = {
      {"between the two renames", {".zeph.saver.new-77", ".zeph.saver.old-77"}, false, ".zeph.saver.new-77"},
      {"a swap that could not be undone", {".zeph.saver.old-77"}, false, ".zeph.saver.old-77"},
      {"another run's half copy beside it",
       {".zeph.saver.new-12", ".zeph.saver.old-77"},
       false,
       ".zeph.saver.old-77"},
      {"a copy never swapped in", {".zeph.saver.new-77"}, false, nullptr},
      {"a removal under way", {".zeph.saver.gone-77"}, false, nullptr},
      {"a bundle in place", {".zeph.saver.new-77", ".zeph.saver.old-77"}, true, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(folder);
    for (const char* name : c.left)
      writeBytes(folder / name / "Contents/Info.plist", {name, name + std::strlen(name)});
    if (c.installed) writeBytes(fs::path(saverDest) / "Contents/Info.plist", {'i'});
    std::optional<std::string> copy = interruptedSaverCopy();
    EXPECT_EQ(copy, c.restored ? std::optional((folder / c.restored).string()) : std::nullopt);
    restoreInterruptedSaver();
    if (c.restored) {
      EXPECT_EQ(readText(fs::path(saverDest) / "Contents/Info.plist"), c.restored);
    } else {
      EXPECT_EQ(fs::exists(saverDest), c.installed);
    }
    EXPECT_EQ(interruptedSaverCopy(), std::nullopt);
    installSaver();  // clears whatever else was left
    expectFreshCopy();
    EXPECT_EQ(test_support::namesIn(folder), std::vector<std::string>{"zeph.saver"});
  }
}

TEST_F(InstallSaver, RemovesTheBundleAndWhatInterruptedRunsLeft) {
  EXPECT_FALSE(removeSaver());  // nothing installed, nothing made
  EXPECT_FALSE(fs::exists(home_ / "Library"));
  installSaver();
  writeBytes(fs::path(saverDest).parent_path() / ".zeph.saver.new-1", {'x'});
  writeBytes(fs::path(saverDest).parent_path() / "other.saver/Contents/Info.plist", {'o'});
  EXPECT_TRUE(removeSaver());
  EXPECT_EQ(test_support::namesIn(fs::path(saverDest).parent_path()),
            std::vector<std::string>{"other.saver"});

  // A link in its place goes, never what it points to.
  fs::create_directory_symlink(home_ / "Library/Screen Savers/other.saver", saverDest);
  EXPECT_TRUE(removeSaver());
  EXPECT_TRUE(fs::exists(home_ / "Library/Screen Savers/other.saver/Contents/Info.plist"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(saverDest)));
}

TEST(LegacySelection, ReadsModuleDictFromAnExport) {
  setProcessValues("/Users/Zoë Smith", true);
  const std::string exported = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
  <key>idleTime</key><integer>300</integer>
  <key>moduleDict</key><dict>
    <key>moduleName</key><string>Flurry</string>
    <key>path</key><string>/System/Library/Screen Savers/Flurry.saver</string>
    <key>type</key><integer>0</integer>
  </dict>
</dict></plist>
)";
  std::optional<plist::Value> selection = moduleDictOf(exported);
  ASSERT_TRUE(selection);
  EXPECT_EQ(*plist::member(*selection, "moduleName")->asString(), "Flurry");
  EXPECT_FALSE(namesInstalledSaver(*selection));

  for (const char* nothing :
       {"", "not a plist <", "<plist version=\"1.0\"><dict/></plist>",
        "<plist version=\"1.0\"><dict><key>moduleDict</key><string>x</string></dict></plist>"}) {
    EXPECT_FALSE(moduleDictOf(nothing)) << nothing;
  }

  plist::Dictionary ours;
  ours.set("path", plist::Value(saverDest + "/"));
  EXPECT_TRUE(namesInstalledSaver(plist::Value(ours)));
  ours.set("path", plist::Value("/Users/other/Library/Screen Savers/zeph.saver"));
  EXPECT_FALSE(namesInstalledSaver(plist::Value(ours)));
}

// macOS 13 keeps no store: the selection and the bundle are the whole status.
TEST_F(InstallSaver, LegacyStatusComesFromTheSelectionAndTheBundle) {
  plist::Dictionary ours;
  ours.set("moduleName", plist::Value("zeph"));
  ours.set("path", plist::Value(saverDest));
  plist::Dictionary flurry;
  flurry.set("path", plist::Value("/System/Library/Screen Savers/Flurry.saver"));
  const std::string tail = " the screen saver (macOS 13: no wallpaper store)";
  const std::string missing = "; the saver is missing from " + saverDest;
  struct Case {
    const char* name;
    std::optional<plist::Value> selection;
    bool installed;
    std::string line;
    bool compliant;
  };
  const Case cases[] = {
      {"zeph selected and installed", plist::Value(ours), true, "zeph is" + tail, true},
      {"zeph selected, the bundle gone", plist::Value(ours), false, "zeph is" + tail + missing, false},
      {"another saver selected", plist::Value(flurry), true, "zeph is not" + tail, false},
      {"nothing selected, nothing installed", std::nullopt, false, "zeph is not" + tail + missing, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.installed) {
      installSaver();
    } else {
      removeSaver();
    }
    ScopedSystemEffects selection([&](SystemEffects& replaced) {
      replaced.legacySelection = [&]() -> std::optional<std::vector<std::uint8_t>> {
        if (!c.selection) return std::nullopt;
        return plist::write(*c.selection, plist::Format::Xml);
      };
    });
    const LegacyStatus status = legacyStatus();
    EXPECT_EQ(status.line, c.line);
    EXPECT_EQ(status.compliant, c.compliant);
  }
}

// Here no /usr/bin/defaults answers: nothing is kept and nothing fails.
TEST_F(InstallSaver, KeepsNoSelectionWhereDefaultsCannotRun) {
  if (fs::exists("/usr/bin/defaults")) GTEST_SKIP() << "a defaults tool is installed here";
  saveLegacySelection();
  EXPECT_FALSE(fs::exists(savedLegacySelectionPath()));
  restoreLegacySelection();
  EXPECT_FALSE(fs::exists(home_ / "Library"));
}

TEST(CopyTree, KeepsFoldersFilesLinksAndPermissionBits) {
  Sandbox box;
  fs::path from = box.path() / "from.saver";
  writeBytes(from / "Contents/Info.plist", {'<', 'p', '>'});
  writeBytes(from / "Contents/MacOS/zeph", std::vector<std::uint8_t>(200000, 0x5a));  // several reads
  ::chmod((from / "Contents/MacOS/zeph").c_str(), 0751);
  writeBytes(from / "Contents/Resources/ReadOnly/inside.txt", {'i'});
  ::chmod((from / "Contents/Resources/ReadOnly/inside.txt").c_str(), 0444);
  ::chmod((from / "Contents/Resources/ReadOnly").c_str(), 0555);
  fs::create_directory(from / "Empty");
  fs::create_symlink("Contents/Info.plist", from / "Info link");
  fs::create_symlink("/nonexistent/target", from / "dangling");

  fs::path to = box.path() / "to.saver";
  copyTree(from.string(), to.string());

  EXPECT_EQ(readBytes(to / "Contents/MacOS/zeph"), readBytes(from / "Contents/MacOS/zeph"));
  EXPECT_EQ(fs::status(to / "Contents/MacOS/zeph").permissions(), static_cast<fs::perms>(0751));
  EXPECT_EQ(fs::status(to / "Contents/Resources/ReadOnly").permissions(), static_cast<fs::perms>(0555));
  EXPECT_EQ(readText(to / "Contents/Resources/ReadOnly/inside.txt"), "i");
  EXPECT_EQ(fs::status(to / "Contents/Resources/ReadOnly/inside.txt").permissions(),
            static_cast<fs::perms>(0444));
  EXPECT_TRUE(fs::is_directory(to / "Empty"));
  ASSERT_TRUE(fs::is_symlink(to / "Info link"));
  EXPECT_EQ(fs::read_symlink(to / "Info link"), "Contents/Info.plist");
  ASSERT_TRUE(fs::is_symlink(to / "dangling"));
  EXPECT_EQ(fs::read_symlink(to / "dangling"), "/nonexistent/target");

  removeTree(to.string());
  EXPECT_FALSE(fs::exists(fs::symlink_status(to)));
  removeTree(to.string());  // nothing there is not an error
}

TEST(CopyTree, RefusesWhatABundleCannotHold) {
  Sandbox box;
  fs::path from = box.path() / "from";
  fs::create_directories(from);
  ASSERT_EQ(::mkfifo((from / "pipe").c_str(), 0600), 0);
  try {
    copyTree(from.string(), (box.path() / "to").string());
    FAIL() << "expected an error";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code(), std::errc::not_supported);
    EXPECT_NE(std::string(e.what()).find((from / "pipe").string()), std::string::npos) << e.what();
  }

  // The destination must not exist yet: nothing is merged.
  fs::create_directories(box.path() / "taken");
  fs::remove(from / "pipe");
  EXPECT_THROW(copyTree(from.string(), (box.path() / "taken").string()), std::system_error);
  // The source must be a folder.
  writeBytes(box.path() / "plain", {'p'});
  EXPECT_THROW(copyTree((box.path() / "plain").string(), (box.path() / "to2").string()), std::system_error);
}

}  // namespace
}  // namespace zeph
