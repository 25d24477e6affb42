#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <system_error>

#include "support/sandbox.h"

namespace zeph {
namespace {

using testing::namesIn;
using testing::readBytes;
using testing::HomeSandbox;
using testing::writeBytes;

std::vector<std::uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

mode_t modeOf(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mode;
}

template <typename F>
std::string errorOf(F&& f) {
  try {
    f();
  } catch (const std::system_error& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(Files, ErrorsNameTheCallAndThePath) {
  HomeSandbox box;
  std::string missing = realHome + "/missing";
  EXPECT_EQ(errorOf([&] { readFile(missing); }), "open(" + missing + "): No such file or directory");
  EXPECT_EQ(errorOf([&] { readFile(realHome); }), "read(" + realHome + "): Is a directory");
  writeBytes(realHome + "/file", bytesOf("x"));
  EXPECT_EQ(errorOf([&] { createFolders(realHome + "/file"); }), "mkdir(" + realHome + "/file): File exists");
  EXPECT_EQ(errorOf([&] { createFolders(realHome + "/file/below"); }),
            "mkdir(" + realHome + "/file/below): Not a directory");
}

TEST(Files, PathExistsFollowsLinks) {
  HomeSandbox box;
  writeBytes(realHome + "/file", bytesOf("x"));
  ::symlink("file", (realHome + "/good").c_str());
  ::symlink("nowhere", (realHome + "/dangling").c_str());
  EXPECT_TRUE(pathExists(realHome));
  EXPECT_TRUE(pathExists(realHome + "/good"));
  EXPECT_FALSE(pathExists(realHome + "/dangling"));
  EXPECT_FALSE(pathExists(realHome + "/file/below"));
}

TEST(Files, CreateFoldersMakesEveryMissingLevelOnce) {
  HomeSandbox box;
  std::string deep = realHome + "/a/b//c";
  mode_t old = ::umask(022);
  createFolders(deep);
  createFolders(deep);  // an existing folder is fine
  ::umask(old);
  EXPECT_TRUE(S_ISDIR(modeOf(realHome + "/a/b/c")));
  EXPECT_EQ(modeOf(realHome + "/a") & 07777, 0755u);
  EXPECT_EQ(modeOf(realHome + "/a/b/c") & 07777, 0755u);
}

TEST(Files, WriteNewFileNeverOverwrites) {
  HomeSandbox box;
  std::string folder = realHome;
  EXPECT_EQ(writeNewFile(folder, "backup", ".plist", bytesOf("one")), folder + "/backup.plist");
  EXPECT_EQ(writeNewFile(folder, "backup", ".plist", bytesOf("two")), folder + "/backup-2.plist");
  EXPECT_EQ(writeNewFile(folder, "backup", ".plist", bytesOf("")), folder + "/backup-3.plist");
  EXPECT_EQ(readBytes(folder + "/backup.plist"), bytesOf("one"));
  EXPECT_EQ(readBytes(folder + "/backup-2.plist"), bytesOf("two"));
  EXPECT_TRUE(readBytes(folder + "/backup-3.plist").empty());

  // A dangling link in the way is not followed (O_EXCL): its target stays uncreated.
  ::symlink("target", (folder + "/linked.plist").c_str());
  EXPECT_EQ(writeNewFile(folder, "linked", ".plist", bytesOf("x")), folder + "/linked-2.plist");
  EXPECT_FALSE(pathExists(folder + "/target"));

  std::string missing = folder + "/none";
  EXPECT_EQ(errorOf([&] { writeNewFile(missing, "b", ".plist", bytesOf("x")); }),
            "create a file in " + missing + ": No such file or directory");
}

TEST(Files, ReplaceFileKeepsModeAndLeavesNothingElse) {
  HomeSandbox box;
  std::string path = realHome + "/Index.plist";
  writeBytes(path, bytesOf("old content that is longer"));
  ::chmod(path.c_str(), 0604);
  replaceFile(path, bytesOf("new"));
  EXPECT_EQ(readBytes(path), bytesOf("new"));
  EXPECT_EQ(modeOf(path) & 07777, 0604u);
  EXPECT_EQ(namesIn(realHome), std::vector<std::string>{"Index.plist"});
}

TEST(Files, ReplaceFileReplacesTheTargetOfALinkChain) {
  HomeSandbox box;
  std::string real = realHome + "/elsewhere/Index.plist";
  writeBytes(real, bytesOf("old"));
  ::mkdir((realHome + "/Store").c_str(), 0755);
  // Store/Index.plist -> hop (relative, same folder) -> ../elsewhere/Index.plist (relative to Store)
  ::symlink("hop", (realHome + "/Store/Index.plist").c_str());
  ::symlink("../elsewhere/Index.plist", (realHome + "/Store/hop").c_str());
  replaceFile(realHome + "/Store/Index.plist", bytesOf("new"));
  EXPECT_TRUE(S_ISLNK(modeOf(realHome + "/Store/Index.plist")));
  EXPECT_TRUE(S_ISLNK(modeOf(realHome + "/Store/hop")));
  EXPECT_EQ(readBytes(real), bytesOf("new"));
  EXPECT_EQ(namesIn(realHome + "/elsewhere"), std::vector<std::string>{"Index.plist"});

  ::symlink("loop", (realHome + "/loop").c_str());
  EXPECT_EQ(errorOf([&] { replaceFile(realHome + "/loop", bytesOf("x")); }),
            "readlink(" + realHome + "/loop): Too many levels of symbolic links");
}

TEST(Files, FailedReplaceLeavesFileAndFolderAsTheyWere) {
  HomeSandbox box;
  // A folder where the file is: the rename fails after the temporary file was written.
  std::string folderInTheWay = realHome + "/Index.plist";
  ::mkdir(folderInTheWay.c_str(), 0755);
  EXPECT_NE(
      errorOf([&] { replaceFile(folderInTheWay, bytesOf("new")); }).find("rename(" + folderInTheWay + "): "),
      std::string::npos);
  EXPECT_EQ(namesIn(realHome), std::vector<std::string>{"Index.plist"});

  // A folder the writer may not change.
  std::string folder = realHome + "/Store";
  std::string path = folder + "/Index.plist";
  writeBytes(path, bytesOf("old"));
  testing::openUp(path, false);
  ::chmod(path.c_str(), 0666);
  ::chmod(folder.c_str(), 0555);
  // The message names the folder to look at, not the hidden temporary file.
  std::string expected = "create a file in " + folder + ": Permission denied";
  int rc = testing::runUnprivileged([&] {
    return errorOf([&] { replaceFile(path, bytesOf("new")); }) == expected ? 0 : 1;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(readBytes(path), bytesOf("old"));
  EXPECT_EQ(namesIn(folder), std::vector<std::string>{"Index.plist"});
}

}  // namespace
}  // namespace zeph
