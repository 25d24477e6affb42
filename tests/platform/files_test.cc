#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <optional>
#include <system_error>

#include "support/sandbox.h"

namespace zeph {
namespace {

using test_support::HomeSandbox;
using test_support::namesIn;
using test_support::readBytes;
using test_support::writeBytes;

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

TEST(Files, WriteNewFileNeverOverwritesAndNeverMakesAnExecutable) {
  HomeSandbox box;
  const std::string h = realHome;
  EXPECT_EQ(writeNewFile(h, "backup", ".plist", bytesOf("one"), 0600), h + "/backup.plist");
  EXPECT_EQ(writeNewFile(h, "backup", ".plist", bytesOf("two"), 0755), h + "/backup-2.plist");
  EXPECT_EQ(writeNewFile(h, "backup", ".plist", bytesOf("")), h + "/backup-3.plist");
  EXPECT_EQ(readBytes(h + "/backup.plist"), bytesOf("one"));
  EXPECT_EQ(readBytes(h + "/backup-2.plist"), bytesOf("two"));
  EXPECT_TRUE(readBytes(h + "/backup-3.plist").empty());
  EXPECT_EQ(modeOf(h + "/backup.plist") & 07777, 0600u);
  EXPECT_EQ(modeOf(h + "/backup-2.plist") & 07777, 0644u);  // never executable
  // No temporary is left beside them.
  EXPECT_EQ(namesIn(h), (std::vector<std::string>{"backup-2.plist", "backup-3.plist", "backup.plist"}));

  // A dangling link in the way is not followed (O_EXCL): its target stays uncreated.
  ::symlink("target", (h + "/linked.plist").c_str());
  EXPECT_EQ(writeNewFile(h, "linked", ".plist", bytesOf("x")), h + "/linked-2.plist");
  EXPECT_FALSE(pathExists(h + "/target"));

  std::string missing = h + "/none";
  EXPECT_EQ(errorOf([&] { writeNewFile(missing, "b", ".plist", bytesOf("x")); }),
            "create a file in " + missing + ": No such file or directory");
}

TEST(Files, ReplaceFileKeepsModeAndAttributesAndLeavesNothingElse) {
  HomeSandbox box;
  std::string path = realHome + "/Index.plist";
  writeBytes(path, bytesOf("old content that is longer"));
  ::chmod(path.c_str(), 0604);
#ifdef __APPLE__
  // Darwin's calls also take a position in the value and options.
  bool attributes = ::setxattr(path.c_str(), "user.zeph.test", "value", 5, 0, 0) == 0;
  auto get = [&](char* value, std::size_t size) {
    return ::getxattr(path.c_str(), "user.zeph.test", value, size, 0, 0);
  };
#else
  bool attributes = ::setxattr(path.c_str(), "user.zeph.test", "value", 5, 0) == 0;
  auto get = [&](char* value, std::size_t size) {
    return ::getxattr(path.c_str(), "user.zeph.test", value, size);
  };
#endif
  replaceFile(path, bytesOf("new"));
  EXPECT_EQ(readBytes(path), bytesOf("new"));
  EXPECT_EQ(modeOf(path) & 07777, 0604u);
  EXPECT_EQ(namesIn(realHome), std::vector<std::string>{"Index.plist"});
  if (attributes) {  // where the file system keeps user attributes at all
    char value[16] = {};
    EXPECT_EQ(get(value, sizeof value), 5);
    EXPECT_STREQ(value, "value");
  }
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
  test_support::openUp(path, false);
  ::chmod(path.c_str(), 0666);
  ::chmod(folder.c_str(), 0555);
  // The message names the folder to look at, not the hidden temporary file.
  std::string expected = "create a file in " + folder + ": Permission denied";
  int rc = test_support::runUnprivileged(
      [&] { return errorOf([&] { replaceFile(path, bytesOf("new")); }) == expected ? 0 : 1; });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(readBytes(path), bytesOf("old"));
  EXPECT_EQ(namesIn(folder), std::vector<std::string>{"Index.plist"});
}

using test_support::anyErrorOf;

// Each of these would block in open() or read without end if it were opened.
TEST(Files, ReadFileTakesOnlyARegularFileWithinTheLimit) {
  HomeSandbox box;
  std::string fifo = realHome + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ::symlink("/dev/zero", (realHome + "/zero").c_str());
  ::symlink("/dev/tty", (realHome + "/tty").c_str());
  EXPECT_EQ(anyErrorOf([&] { readFile(fifo); }), fifo + ": not a regular file (a FIFO)");
  EXPECT_EQ(anyErrorOf([&] { readFile(realHome + "/zero"); }),
            realHome + "/zero: not a regular file (a character device)");
  EXPECT_NE(anyErrorOf([&] { readFile(realHome + "/tty"); }).find(realHome + "/tty: "), std::string::npos);

  std::string file = realHome + "/file";
  writeBytes(file, std::vector<std::uint8_t>(100000, 'x'));
  EXPECT_EQ(readFile(file, 100000).size(), 100000u);
  EXPECT_EQ(anyErrorOf([&] { readFile(file, 99999); }),
            file + " is too large to read (100000 bytes; the limit is 99999 bytes)");
}

TEST(Files, ExistenceFollowsLinksAndRegularFileExistsTellsNothingFromWhatCannotBeLookedAt) {
  HomeSandbox box;
  const std::string h = realHome;
  writeBytes(h + "/file", bytesOf("x"));
  ::mkdir((h + "/folder").c_str(), 0755);
  ::symlink("file", (h + "/link").c_str());
  ::symlink("nowhere", (h + "/dangling").c_str());
  ::symlink("loop", (h + "/loop").c_str());
  ::mkfifo((h + "/fifo").c_str(), 0600);

  EXPECT_TRUE(pathExists(h));
  EXPECT_TRUE(pathExists(h + "/link"));
  EXPECT_FALSE(pathExists(h + "/dangling"));
  EXPECT_FALSE(pathExists(h + "/file/below"));
  EXPECT_TRUE(regularFileExists(h + "/file"));
  EXPECT_TRUE(regularFileExists(h + "/link"));
  // Nothing there, or nothing at the first missing folder: a new account.
  for (const char* none : {"/none", "/none/deeper/Index.plist", "/folder/none/Index.plist"}) {
    EXPECT_FALSE(regularFileExists(h + none)) << none;
  }
  struct Case {
    std::string path;
    std::string error;
  };
  const Case cases[] = {
      {h + "/dangling", h + "/dangling is a dangling link to nowhere: No such file or directory"},
      {h + "/dangling/Store/Index.plist",
       h + "/dangling is a dangling link to nowhere: No such file or directory"},
      {h + "/loop", "stat(" + h + "/loop): Too many levels of symbolic links"},
      {h + "/loop/Index.plist", "stat(" + h + "/loop/Index.plist): Too many levels of symbolic links"},
      {h + "/file/Index.plist", "stat(" + h + "/file/Index.plist): Not a directory"},
      {h + "/" + std::string(300, 'n'), "stat(" + h + "/" + std::string(300, 'n') + "): File name too long"},
      {h + "/fifo", h + "/fifo: not a regular file (a FIFO)"},
      {h + "/folder", "read(" + h + "/folder): Is a directory"},
  };
  for (const Case& c : cases) EXPECT_EQ(anyErrorOf([&] { regularFileExists(c.path); }), c.error);

  // A folder on the way that may not be searched.
  ::mkdir((h + "/closed").c_str(), 0700);
  test_support::openUp(h, false);
  std::string message =
      test_support::errorUnprivileged([&] { regularFileExists(h + "/closed/Index.plist"); });
  EXPECT_EQ(message, "stat(" + h + "/closed/Index.plist): Permission denied");
}

TEST(Files, StaleTemporariesAreRecognisedAndRemovedAlone) {
  HomeSandbox box;
  const std::string h = realHome;
  for (const char* name : {".Index.plist.123.0.abc.tmp", ".wallpaper-store-backup-2026.plist.9.1.f.tmp",
                           "Index.plist", ".Index.plist", ".Other.plist.1.0.a.tmp", "Index.plist.tmp"}) {
    writeBytes(h + "/" + name, bytesOf("x"));
  }
  ::mkdir((h + "/.Index.plist.5.tmp").c_str(), 0755);  // a folder is not ours
  EXPECT_TRUE(isTemporaryName(".Index.plist.123.0.abc.tmp", "Index.plist"));
  EXPECT_FALSE(isTemporaryName(".Index.plist.tmp", "Index.plist.tmp"));
  removeStaleTemporaries(h, "Index.plist");
  removeStaleTemporaries(h, "wallpaper-store-backup-");
  removeStaleTemporaries(h + "/missing", "Index.plist");
  EXPECT_EQ(namesIn(h),
            (std::vector<std::string>{".Index.plist", ".Index.plist.5.tmp", ".Other.plist.1.0.a.tmp",
                                      "Index.plist", "Index.plist.tmp"}));
}

TEST(Files, SwapIntoPlaceExchangesOrMovesIn) {
  HomeSandbox box;
  const std::string h = realHome;
  writeBytes(h + "/new/a", bytesOf("new"));
  EXPECT_EQ(swapIntoPlace(h + "/new", h + "/dest", h + "/aside"), std::nullopt);
  EXPECT_EQ(readBytes(h + "/dest/a"), bytesOf("new"));

  writeBytes(h + "/newer/a", bytesOf("newer"));
  std::optional<std::string> old = swapIntoPlace(h + "/newer", h + "/dest", h + "/aside");
  ASSERT_TRUE(old);
  EXPECT_EQ(readBytes(h + "/dest/a"), bytesOf("newer"));
  EXPECT_EQ(readBytes(*old + "/a"), bytesOf("new"));

  // Nothing to swap in: both stay where they were.
  EXPECT_NE(anyErrorOf([&] { swapIntoPlace(h + "/gone", h + "/dest", h + "/aside"); }).find("rename("),
            std::string::npos);
  EXPECT_EQ(readBytes(h + "/dest/a"), bytesOf("newer"));
}

}  // namespace
}  // namespace zeph
