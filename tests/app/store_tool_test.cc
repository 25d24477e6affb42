// zeph-store as management tools run it: status as a compliance check, the
// list of backups, the JSON report, for the home named on the command line.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/process_values.h"
#include "platform/home.h"
#include "plist/format.h"
#include "support/installer_runner.h"
#include "support/sandbox.h"
#include "support/store_builders.h"
#include "wallpaper_store/idle_entry.h"
#include "wallpaper_store/store_rewrite.h"
#include "wallpaper_store/store_slots.h"

namespace zeph {
namespace {

namespace fs = std::filesystem;
using test_support::putPlist;
using test_support::RunResult;
using test_support::Sandbox;
using test_support::storeFile;
using test_support::writeBytes;

RunResult storeTool(const std::vector<std::string>& args,
                    const std::optional<std::string>& home = std::nullopt) {
  std::vector<std::string> argv{test_support::storeToolPath().string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return test_support::runProgram(argv, home);
}

// The realistic store with its first `onSaver` slots selecting the saver installed in `home`.
std::vector<std::uint8_t> storeWithSaverIn(const fs::path& home, int onSaver) {
  setProcessValues(home.string(), true);
  const plist::Value saver(zephIdleNode());
  int seen = 0;
  plist::Value root = test_support::withSlotIdles(
      test_support::realisticStore(), [&](const Slot& slot) -> std::optional<plist::Value> {
        if (seen++ < onSaver) return saver;
        return slot.idle ? std::optional(*slot.idle) : std::nullopt;
      });
  return plist::write(root, plist::Format::Binary);
}

class StoreTool : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(home_); }
  void installBundle() const { fs::create_directories(test_support::saverFolder(home_) / "Contents"); }
  RunResult status() const { return storeTool({"status", "--home", home_.string() + "/"}); }
  Sandbox box_;
  fs::path home_ = box_.path() / "Zoë Smith";
};

TEST_F(StoreTool, StatusIsZeroOnlyWhenEverySlotHasTheInstalledSaver) {
  const std::int64_t all = test_support::kRealisticStoreSlots;
  RunResult none = status();
  EXPECT_EQ(none.out, "no wallpaper store\n");
  EXPECT_EQ(none.status, 3);

  installBundle();
  struct Case {
    int onSaver;
    int status;
  };
  for (Case c : {Case{static_cast<int>(all), 0}, Case{3, 3}, Case{0, 3}}) {
    SCOPED_TRACE(c.onSaver);
    writeBytes(storeFile(home_), storeWithSaverIn(home_, c.onSaver));
    RunResult r = status();
    EXPECT_EQ(r.out,
              "zeph on " + std::to_string(c.onSaver) + " of " + std::to_string(all) + " screensaver slots\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, c.status);
  }

  // Every slot on the saver, but the saver is gone: nothing would show.
  writeBytes(storeFile(home_), storeWithSaverIn(home_, static_cast<int>(all)));
  fs::remove_all(test_support::saverFolder(home_));
  RunResult missing = status();
  EXPECT_EQ(missing.status, 3);
  const std::string allOnSaver = "zeph on " + std::to_string(all) + " of " + std::to_string(all);
  EXPECT_EQ(missing.out.rfind(allOnSaver + " screensaver slots; the saver is missing from ", 0), 0u)
      << missing.out;

  // Another home's saver does not count.
  installBundle();
  writeBytes(storeFile(home_), storeWithSaverIn("/Users/olduser", static_cast<int>(all)));
  EXPECT_EQ(status().out, "zeph on 0 of " + std::to_string(all) + " screensaver slots\n");

  // No slots at all is not compliance.
  putPlist(storeFile(home_), test_support::dict({}));
  RunResult empty = status();
  EXPECT_EQ(empty.out, "zeph on 0 of 0 screensaver slots\n");
  EXPECT_EQ(empty.status, 3);
}

TEST_F(StoreTool, StatusIsOneWhenTheStoreCannotBeRead) {
  writeBytes(storeFile(home_), {'b', 'p', 'l', 'i', 's', 't', '0', '0', 1, 2});
  RunResult damaged = status();
  EXPECT_EQ(damaged.status, 1);
  EXPECT_EQ(damaged.out, "");
  EXPECT_EQ(damaged.err.rfind("error: " + storeFile(home_).string() + ": ", 0), 0u) << damaged.err;

  RunResult relative = storeTool({"status", "--home", "relative"});
  EXPECT_EQ(relative.status, 1);
  RunResult noUser = storeTool({"status", "--user", "zeph-no-such-user"});
  EXPECT_EQ(noUser.status, 1);
  EXPECT_EQ(noUser.err, "error: no user \"zeph-no-such-user\" with a home folder in the user database\n");
  for (std::vector<std::string> args : {std::vector<std::string>{"status", "FILE"},
                                        {"status", "--user", "a", "--home", "/b"},
                                        {"backups", "--json"},
                                        {"show", "FILE", "--home", "/b"},
                                        {"status", "--home"}}) {
    EXPECT_EQ(storeTool(args).status, 2) << args[1];
  }
}

// A home without a store gets one answer from every command, and a home
// that is not there is an error, not a user without a store.
TEST_F(StoreTool, NoStoreAndNoHomeAnswerAlike) {
  const std::string home = home_.string();
  const std::string noHome = (box_.path() / "Zoe Smith").string();  // a typo of the home
  const std::string aFile = (box_.path() / "file").string();
  writeBytes(aFile, {'x'});
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
  };
  std::vector<Case> cases{
      {{"show", "--home", home}, 3, "no wallpaper store at " + storeFile(home_).string() + "\n", ""},
      {{"show", "--json", "--home", home},
       0,
       R"({"schema":1,"slots":[],"store":null,"stores":[],"total":0,"zeph":0})"
       "\n",
       ""},
      {{"status", "--home", home}, 3, "no wallpaper store\n", ""},
      {{"backups", "--home", home},
       0,
       "",
       "no backups in " + test_support::backupFolder(home_).string() + "\n"},
  };
  for (const char* command : {"show", "status", "backups"}) {
    cases.push_back({{command, "--home", noHome}, 1, "", "error: no home folder at " + noHome + "\n"});
    cases.push_back({{command, "--home", aFile + "/"}, 1, "", "error: no home folder at " + aFile + "\n"});
  }
  // The user database may name a home that was never made (Debian's "nobody").
  if (std::optional<std::string> nobody = userHome("nobody"); nobody && !fs::exists(*nobody)) {
    cases.push_back({{"status", "--user", "nobody"}, 1, "", "error: no home folder at " + *nobody + "\n"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    RunResult r = storeTool(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
  EXPECT_FALSE(fs::exists(noHome));
}

// A crafted store of 2,000 spaces sharing one space of 2,000 displays that
// share one record: four million slots in a small file. Every command
// refuses it after a walk bounded by the limit, the installer before taking a
// backup of it; a backup of it reads as damaged.
TEST_F(StoreTool, EveryCommandRefusesAStoreOfSharedSlotsPastTheLimit) {
  const std::vector<std::uint8_t> crafted =
      plist::write(test_support::sharedSlotsStore(2000, 2000), plist::Format::Binary);
  writeBytes(storeFile(home_), crafted);
  const std::string refusal = "error: " + storeFile(home_).string() +
                              ": more than 1000000 screensaver slots, more than a store can sensibly have\n";
  for (std::vector<std::string> args : {std::vector<std::string>{"status"}, {"show"}, {"show", "--json"}}) {
    SCOPED_TRACE(args.back());
    args.insert(args.end(), {"--home", home_.string()});
    RunResult r = storeTool(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, refusal);
  }
  // The installer's runs end before they restart any agent.
  for (const char* mode : {"--apply", "--uninstall"}) {
    SCOPED_TRACE(mode);
    RunResult r = test_support::runInstaller({mode}, home_.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(refusal), std::string::npos) << r.err;
  }
  EXPECT_EQ(test_support::readBytes(storeFile(home_)), crafted);
  EXPECT_TRUE(test_support::backupNames(home_).empty());

  writeBytes(test_support::backupFolder(home_) / "wallpaper-store-backup-2026-12-06T21:21:43Z.plist",
             crafted);
  RunResult backups = storeTool({"backups", "--home", home_.string()});
  EXPECT_EQ(backups.status, 0);
  EXPECT_EQ(
      backups.out,
      (test_support::backupFolder(home_) / "wallpaper-store-backup-2026-12-06T21:21:43Z.plist").string() +
          "\t2026-12-06T21:21:43Z\t" + std::to_string(crafted.size()) + "\tdamaged\n");
}

// A run stopped between the two renames of the bundle swap left no bundle:
// status says so, and where the copy the next run puts back is.
TEST_F(StoreTool, StatusNamesTheCopyAnInterruptedSwapLeft) {
  writeBytes(storeFile(home_), storeWithSaverIn(home_, 100));
  const fs::path folder = test_support::saverFolder(home_).parent_path();
  fs::create_directories(folder / ".zeph.saver.new-4242/Contents");
  fs::create_directories(folder / ".zeph.saver.old-4242/Contents");
  RunResult r = status();
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "zeph on " + std::to_string(test_support::kRealisticStoreSlots) + " of " +
                       std::to_string(test_support::kRealisticStoreSlots) +
                       " screensaver slots; the saver is missing from " +
                       test_support::saverFolder(home_).string() + " (an interrupted run left a copy at " +
                       (folder / ".zeph.saver.new-4242").string() + ", which the next run puts back)\n");
}

TEST_F(StoreTool, BackupsComeOldestFirstWithTheirSlotsOnTheSaver) {
  EXPECT_EQ(storeTool({"backups", "--home", home_.string()}).out, "");
  const fs::path folder = test_support::backupFolder(home_);
  const std::vector<std::uint8_t> twoOnSaver = storeWithSaverIn(home_, 2);
  writeBytes(folder / "wallpaper-store-backup-2026-01-01T10:00:00Z-2.plist", twoOnSaver);
  writeBytes(folder / "wallpaper-store-backup-2026-01-01T10:00:00Z.plist", {'b', 'p', 'l', 'i', 's', 't'});
  writeBytes(folder / "wallpaper-store-backup-2025-12-31T23:59:59Z.plist", storeWithSaverIn(home_, 0));
  writeBytes(folder / "legacy-screensaver-module.plist", {'x'});

  RunResult r = storeTool({"backups"}, home_.string());
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string prefix = folder.string() + "/wallpaper-store-backup-";
  EXPECT_EQ(r.out, prefix + "2025-12-31T23:59:59Z.plist\t2025-12-31T23:59:59Z\t" +
                       std::to_string(storeWithSaverIn(home_, 0).size()) + "\t0\n" + prefix +
                       "2026-01-01T10:00:00Z.plist\t2026-01-01T10:00:00Z\t6\tdamaged\n" + prefix +
                       "2026-01-01T10:00:00Z-2.plist\t2026-01-01T10:00:00Z\t" +
                       std::to_string(twoOnSaver.size()) + "\t2\n");
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// macOS 26 keeps Index2.plist beside Index.plist: status, backups and show
// report both, and status is 0 only when both have the saver everywhere.
TEST_F(StoreTool, ReportsTheSecondStoreToo) {
  const fs::path first = storeFile(home_);
  const fs::path second = test_support::secondStoreFile(home_);
  putPlist(first, test_support::macos26FirstStore());
  const std::vector<std::uint8_t> linked = putPlist(second, test_support::macos26SecondStore());
  // show, by default and given the first store's path, reads both and shows each record's type.
  const std::string linkedType = "(\"linked\", desktop and screen saver)";
  for (const std::vector<std::string>& args : {std::vector<std::string>{"show"}, {"show", first.string()}}) {
    SCOPED_TRACE(args.size());
    RunResult r = storeTool(args, home_.string());
    EXPECT_EQ(r.status, 0) << r.err;
    std::size_t split = r.out.find(second.string() + ":\n");
    ASSERT_NE(split, std::string::npos) << r.out;
    EXPECT_EQ(r.out.rfind(first.string() + ":\n", 0), 0u) << r.out;
    const std::string one = r.out.substr(0, split);
    const std::string two = r.out.substr(split);
    EXPECT_EQ(occurrences(one, linkedType), 1u) << one;
    EXPECT_EQ(occurrences(one, "(\"individual\")"), 2u) << one;
    EXPECT_EQ(occurrences(two, linkedType), 8u) << two;
    EXPECT_EQ(occurrences(r.out, "0 slots hold the zeph saver\n"), 2u) << r.out;
  }

  setProcessValues(home_.string(), true);
  rewriteWallpaperStore();
  installBundle();
  RunResult both = status();
  EXPECT_EQ(both.out, "zeph on 3 of 3 screensaver slots; Index2.plist: zeph on 8 of 8 screensaver slots\n");
  EXPECT_EQ(both.status, 0) << both.err;

  const std::string folder = test_support::backupFolder(home_).string();
  RunResult backups = storeTool({"backups", "--home", home_.string()});
  ASSERT_EQ(backups.status, 0) << backups.err;
  EXPECT_EQ(backups.out.rfind(folder + "/wallpaper-store-backup-", 0), 0u) << backups.out;
  EXPECT_NE(backups.out.find("\n" + folder + "/wallpaper-store2-backup-"), std::string::npos) << backups.out;
  EXPECT_EQ(backups.out.substr(backups.out.size() - 3), "\t0\n");  // the linked store, before zeph
  EXPECT_EQ(storeTool({"show", first.string()}).out, storeTool({"show", "--home", home_.string()}).out);

  writeBytes(second, linked);  // the agent of macOS 26 took its store back
  RunResult reverted = status();
  EXPECT_EQ(reverted.out,
            "zeph on 3 of 3 screensaver slots; Index2.plist: zeph on 0 of 0 screensaver slots\n");
  EXPECT_EQ(reverted.status, 3);

  fs::remove(first);
  EXPECT_EQ(status().out, "no Index.plist; Index2.plist: zeph on 0 of 0 screensaver slots\n");
  RunResult onlySecond = storeTool({"show"}, home_.string());  // the one shown, without a heading
  EXPECT_EQ(onlySecond.status, 0) << onlySecond.err;
  EXPECT_EQ(occurrences(onlySecond.out, linkedType), 8u) << onlySecond.out;
  EXPECT_EQ(onlySecond.out.find(":\n"), std::string::npos) << onlySecond.out;
}

// An Index2.plist that cannot be read does not hide Index.plist's count, and
// is no compliance: status names it and ends with 1.
TEST_F(StoreTool, StatusSaysWhenTheSecondStoreCannotBeRead) {
  putPlist(storeFile(home_), test_support::macos26FirstStore());
  const fs::path second = test_support::secondStoreFile(home_);
  setProcessValues(home_.string(), true);
  rewriteWallpaperStore();
  installBundle();
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;  // none: a folder
    const char* reason;
  };
  const Case cases[] = {
      {"an array", plist::write(test_support::array({}), plist::Format::Binary),
       "the top level is not a dictionary"},
      {"garbage", {'{', '{', 0xFF}, "old-style plist: "},
      {"a folder", {}, "Is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(second);
    if (c.bytes.empty()) {
      fs::create_directories(second);
    } else {
      writeBytes(second, c.bytes);
    }
    RunResult r = status();
    EXPECT_EQ(r.out, "zeph on 3 of 3 screensaver slots; Index2.plist: unreadable\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("error: " + second.string() + ": ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
  }
}

// Python's json module reads the report and rebuilds the text of `show` from it.
TEST_F(StoreTool, ShowJsonParsesWithPythonAndAgreesWithShow) {
  if (!fs::exists("/usr/bin/python3")) GTEST_SKIP() << "needs python3";
  writeBytes(storeFile(home_), storeWithSaverIn(home_, 3));
  RunResult text = storeTool({"show", "--home", home_.string()});
  RunResult json = storeTool({"show", "--json", "--home", home_.string()});
  ASSERT_EQ(json.status, 0) << json.err;
  const fs::path report = box_.path() / "report.json";
  writeBytes(report, std::vector<std::uint8_t>(json.out.begin(), json.out.end()));
  const char* rebuild = R"py(
import json, sys
report = json.load(open(sys.argv[1], encoding="utf-8"))
assert report["schema"] == 1, report
assert report["total"] == sum(slot["shape"] == "reads idle" for slot in report["slots"]), report
lines = []
for slot in report["slots"]:
    place = slot["place"]
    if place in ("system default", "all spaces and displays"):
        name = place
    elif place == "top-level display":
        name = 'display "%s"' % slot["display"]
    elif place == "space default":
        name = 'space "%s" default' % slot["space"]
    else:
        name = 'space "%s" display "%s"' % (slot["space"], slot["display"])
    kind = '"%s"' % slot["type"] if slot["type"] is not None else "no type"
    if slot["shape"] == "linked":
        kind += ", desktop and screen saver"
    text = ", ".join(c["provider"] + (" " + c["url"] if c["url"] else "") for c in slot["selection"]) or "none"
    dates = [label + " " + slot[key] for key, label in (("set", "set"), ("used", "used")) if slot[key]]
    lines.append(name + ": (" + kind + ") " + text + (" (" + ", ".join(dates) + ")" if dates else ""))
n = report["zeph"]
lines.append("%d %s the zeph saver" % (n, "slot holds" if n == 1 else "slots hold"))
sys.stdout.write("\n".join(lines) + "\n")
print(report["store"])
)py";
  RunResult python =
      test_support::runProgram({"/usr/bin/python3", "-c", rebuild, report.string()}, std::nullopt);
  ASSERT_EQ(python.status, 0) << python.err;
  EXPECT_EQ(python.out, text.out + storeFile(home_).string() + "\n");
  EXPECT_NE(text.out.find("3 slots hold the zeph saver\n"), std::string::npos) << text.out;
}

}  // namespace
}  // namespace zeph

namespace zeph {
namespace {

// print reads the file in place and writes the text as it goes: the bytes are
// the codec's, a document it cannot write yields no text at all, and what
// cannot be read or written is named.
TEST_F(StoreTool, PrintWritesTheCodecsTextOrNothing) {
  plist::Dictionary large;
  for (int i = 0; i < 5000; ++i)
    large.set("key " + std::to_string(i), plist::Value("value <" + std::to_string(i) + ">"));
  const plist::Value document(std::move(large));
  const std::string xml = [&] {
    const std::vector<std::uint8_t> bytes = plist::write(document, plist::Format::Xml);
    return std::string(bytes.begin(), bytes.end());
  }();
  const fs::path binary = box_.path() / "large.plist", text = box_.path() / "large.xml";
  writeBytes(binary, plist::write(document, plist::Format::Binary));
  writeBytes(text, std::vector<std::uint8_t>(xml.begin(), xml.end()));
  for (const fs::path& file : {binary, text}) {
    RunResult r = storeTool({"print", file.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, xml) << file;
    EXPECT_EQ(r.err, "");
  }
  // Binary strings may hold a lone surrogate, which XML cannot carry.
  plist::Dictionary broken;
  for (int i = 0; i < 5000; ++i) broken.set("key " + std::to_string(i), plist::Value("fine"));
  broken.set("zz", plist::Value("ab\xED\xA0\x80"));
  const fs::path unwritable = box_.path() / "surrogate.plist";
  writeBytes(unwritable, plist::write(plist::Value(std::move(broken)), plist::Format::Binary));
  const fs::path empty = box_.path() / "empty.plist";
  writeBytes(empty, {});
  const struct {
    fs::path file;
    std::string error;
  } refused[] = {
      {unwritable, "lone UTF-16 surrogate"},
      {empty, empty.string() + ": property list: the document is empty"},
      {box_.path(), "Is a directory"},
      {box_.path() / "missing.plist", "No such file or directory"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.file);
    RunResult r = storeTool({"print", c.file.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
  }
  RunResult full = test_support::runProgram(
      {test_support::storeToolPath().string(), "print", binary.string()}, std::nullopt, "/dev/full");
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "error: write to standard output: No space left on device\n");
}

}  // namespace
}  // namespace zeph
