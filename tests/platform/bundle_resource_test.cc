// The search for the carried saver bundle beside the executable, in the
// layouts the installer ships in.

#include "platform/bundle_resource.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/executable_path.h"
#include "support/sandbox.h"

namespace zeph {
namespace {

namespace fs = std::filesystem;
using test_support::Sandbox;
using test_support::writeBytes;

// A program file at `path` and a bundle folder at each of `bundles`.
void layout(const fs::path& program, std::initializer_list<fs::path> bundles) {
  writeBytes(program, {'#', '!'});
  for (const fs::path& bundle : bundles) fs::create_directories(bundle / "Contents");
}

std::string real(const fs::path& path) { return fs::canonical(path).string(); }

TEST(SaverBundle, AppBundleLayoutComesFirstThenTheInstalledOne) {
  Sandbox box;
  const fs::path app = box.path() / "Zeph Installer.app/Contents";
  layout(app / "MacOS/zeph-installer", {app / "Resources/zeph.saver", app / "share/zeph/zeph.saver"});
  EXPECT_EQ(saverBundleBeside((app / "MacOS/zeph-installer").string()), real(app / "Resources/zeph.saver"));

  const fs::path prefix = box.path() / "usr/local";
  layout(prefix / "bin/zeph-installer", {prefix / "share/zeph/zeph.saver"});
  writeBytes(prefix / "Resources/zeph.saver", {'x'});  // a plain file of that name is no bundle
  EXPECT_EQ(saverBundleBeside((prefix / "bin/zeph-installer").string()),
            real(prefix / "share/zeph/zeph.saver"));
}

TEST(SaverBundle, SymlinkedExecutableSearchesBesideTheRealFile) {
  Sandbox box;
  // A package manager's layout: the real install in a versioned folder, its
  // bin/ linked from a shared prefix that holds no bundle of its own, or a stale one.
  const fs::path cellar = box.path() / "Cellar/zeph/1.2";
  layout(cellar / "bin/zeph-installer", {cellar / "share/zeph/zeph.saver"});
  const fs::path farm = box.path() / "prefix";
  fs::create_directories(farm / "bin");
  fs::create_symlink("../../Cellar/zeph/1.2/bin/zeph-installer", farm / "bin/zeph-installer");
  EXPECT_EQ(saverBundleBeside((farm / "bin/zeph-installer").string()),
            real(cellar / "share/zeph/zeph.saver"));

  fs::create_directories(farm / "share/zeph/zeph.saver");
  EXPECT_EQ(saverBundleBeside((farm / "bin/zeph-installer").string()),
            real(cellar / "share/zeph/zeph.saver"));

  // A linked folder on the way counts the same.
  fs::create_directory_symlink(cellar / "bin", box.path() / "linked-bin");
  EXPECT_EQ(saverBundleBeside((box.path() / "linked-bin/zeph-installer").string()),
            real(cellar / "share/zeph/zeph.saver"));
}

TEST(SaverBundle, NoneWhenAbsentFromEveryPlace) {
  Sandbox box;
  layout(box.path() / "bin/zeph-installer", {box.path() / "share/zeph/other.saver"});
  EXPECT_EQ(saverBundleBeside((box.path() / "bin/zeph-installer").string()), std::nullopt);
  EXPECT_EQ(saverBundleBeside((box.path() / "bin/missing").string()), std::nullopt);
  fs::create_symlink(box.path() / "nowhere", box.path() / "bin/dangling");
  EXPECT_EQ(saverBundleBeside((box.path() / "bin/dangling").string()), std::nullopt);
}

// The test program sits in the build tree, whose share/zeph holds the bundle.
TEST(SaverBundle, FoundForTheRunningProgram) {
  std::optional<std::string> self = executablePath();
  ASSERT_TRUE(self);
  EXPECT_EQ(self->front(), '/');
  std::optional<std::string> bundle = bundledSaverPath();
  ASSERT_TRUE(bundle);
  EXPECT_TRUE(fs::exists(fs::path(*bundle) / "Contents/Info.plist")) << *bundle;
}

}  // namespace
}  // namespace zeph
