// Every file call of an unattended run made to fail in turn, through the file
// layer's fault seam (platform/file_calls.h).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "base/process_values.h"
#include "platform/file_calls.h"
#include "plist/format.h"
#include "support/installer_runner.h"
#include "support/sandbox.h"
#include "support/store_builders.h"
#include "wallpaper_store/idle_entry.h"
#include "wallpaper_store/slot_count.h"
#include "wallpaper_store/store_backups.h"
#include "wallpaper_store/store_slots.h"

namespace zeph {
namespace {

namespace fs = std::filesystem;
using test_support::backupFolder;
using test_support::kRealisticStoreSlots;
using test_support::namesIn;
using test_support::readBytes;
using test_support::RunResult;
using test_support::Sandbox;
using test_support::saverFolder;
using test_support::storeFile;

// Walks n over every call of one kind: runs the installer, with ZEPH_FAULT
// making the n-th such call fail, in a fresh home `make` fills, and hands each
// run to `check` with whether the fault was hit, until a run no longer meets it.
template <typename Make, typename Check>
void walkFaults(const std::string& prefix, const std::string& call, const std::string& error, Make make,
                Check check, const char* mode = "--apply") {
  for (int n = 1; n < 200; ++n) {
    const std::string fault = prefix + call + ":" + std::to_string(n) + ":" + error;
    SCOPED_TRACE(fault);
    Sandbox box;
    const fs::path home = box.path() / "home";
    make(home);
    ::setenv("ZEPH_FAULT", fault.c_str(), 1);  // the harness passes the tests' environment on
    RunResult r = test_support::runInstaller({mode}, home.string());
    ::unsetenv("ZEPH_FAULT");
    const bool hit = r.err.find("zeph fault: " + call + " #" + std::to_string(n) + " ") != std::string::npos;
    setProcessValues(home.string(), true);
    check(home, r, n, hit);
    if (!hit) return;  // the walk has passed the last call of this kind
    ASSERT_LT(n, 199) << "the walk does not end";
  }
}

std::vector<std::string> errorLines(const std::string& err) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while ((at = err.find("error: ", at)) != std::string::npos) {
    if (at == 0 || err[at - 1] == '\n') lines.push_back(err.substr(at, err.find('\n', at) - at));
    at += 7;
  }
  return lines;
}

// The steps a row's walk met, by outcome, for the failure summary.
struct Outcomes {
  std::vector<std::string> fatal;
  std::vector<std::string> bestEffort;
};

void printSummary(const std::map<std::string, Outcomes>& summary) {
  for (const auto& [name, outcome] : summary) {
    std::string fatal, bestEffort;
    for (const std::string& n : outcome.fatal) fatal += " " + n;
    for (const std::string& n : outcome.bestEffort) bestEffort += " " + n;
    std::printf("%-46s fatal:%s  best effort:%s\n", name.c_str(), fatal.c_str(), bestEffort.c_str());
  }
}

TEST(FaultWalk, EveryFileCallOfAnApplyFailsCleanly) {
  if (!file_calls::faultInjectionBuilt()) GTEST_SKIP() << "built without ZEPH_FAULT_INJECTION";
  const std::vector<std::uint8_t> store = plist::write(test_support::realisticStore(), plist::Format::Binary);
  const std::vector<std::uint8_t> newInfo =
      readBytes(test_support::binaryDir() / "share/zeph/zeph.saver/Contents/Info.plist");
  const std::vector<std::uint8_t> oldInfo = {'o', 'l', 'd'};
  const std::regex backupName(R"(wallpaper-store-backup-\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ(-\d+)?\.plist)");

  // Each row walks n over every call of its kind; a prefix fault stands for
  // a file system without renames that refuse to replace, or without hard links.
  struct Row {
    const char* call;
    const char* error;
    const char* prefix;
  };
  const Row rows[] = {
      {"open", "EACCES", ""},
      {"write", "ENOSPC", ""},
      {"fsync", "EIO", ""},
      {"fsync", "EINVAL", ""},
      {"rename", "EIO", ""},
      {"renamex", "EIO", ""},
      {"renamex", "EINVAL", ""},
      {"mkdir", "ENOSPC", ""},
      {"rename", "EIO", "renamex:*:EINVAL,"},
      {"link", "EIO", "renamex:*:EINVAL,"},
      {"link", "EPERM", "renamex:*:EINVAL,"},
      {"write", "ENOSPC", "renamex:*:EINVAL,link:*:EPERM,"},
  };
  std::map<std::string, Outcomes> summary;
  const auto make = [&](const fs::path& home) {
    test_support::writeBytes(storeFile(home), store);
    test_support::writeBytes(saverFolder(home) / "Contents/Info.plist", oldInfo);
    test_support::writeBytes(saverFolder(home) / "Contents/old-only", {'x'});
  };
  for (const Row& row : rows) {
    const std::string rowName = std::string(row.prefix) + row.call + ":" + row.error;
    walkFaults(row.prefix, row.call, row.error, make,
               [&](const fs::path& home, const RunResult& r, int n, bool hit) {
                 // The store is as it was, or wholly rewritten.
                 const std::vector<std::uint8_t> after = readBytes(storeFile(home));
                 const bool storeRewritten = after != store;
                 if (storeRewritten) {
                   EXPECT_EQ(zephSlotCount(), kRealisticStoreSlots);
                 }
                 // The bundle is the old one or the new one, whole.
                 const std::vector<std::uint8_t> info = readBytes(saverFolder(home) / "Contents/Info.plist");
                 if (info == oldInfo) {
                   EXPECT_TRUE(fs::exists(saverFolder(home) / "Contents/old-only"));
                 } else {
                   EXPECT_EQ(info, newInfo);
                   EXPECT_FALSE(fs::exists(saverFolder(home) / "Contents/old-only"));
                 }
                 // Every backup is complete, and nothing half-made is left anywhere.
                 for (const std::string& name : namesIn(backupFolder(home))) {
                   if (name == "applied") continue;  // the marker of a run that set slots
                   EXPECT_TRUE(std::regex_match(name, backupName)) << name;
                   EXPECT_EQ(readBytes(backupFolder(home) / name), store) << name;
                 }
                 EXPECT_EQ(namesIn(storeFile(home).parent_path()), std::vector<std::string>{"Index.plist"});
                 // The lock file is made on first use: a run whose open of it fails makes none.
                 std::vector<std::string> saverNames = namesIn(saverFolder(home).parent_path());
                 std::erase(saverNames, std::string(".zeph.lock"));
                 EXPECT_EQ(saverNames, std::vector<std::string>{"zeph.saver"});

                 if (r.status == 0) {
                   EXPECT_TRUE(storeRewritten);
                   EXPECT_EQ(info, newInfo);
                   EXPECT_EQ(test_support::backupNames(home).size(), 1u);
                   EXPECT_TRUE(errorLines(r.err).empty()) << r.err;
                   if (hit) summary[rowName].bestEffort.push_back(std::to_string(n));
                 } else {
                   // Fatal: one error line naming the path and the cause.
                   EXPECT_EQ(r.status, 1) << r.err;
                   std::vector<std::string> lines = errorLines(r.err);
                   ASSERT_EQ(lines.size(), 1u) << r.err;
                   EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(error: [^/]*/.*: [A-Z][a-z].*)")))
                       << lines[0];
                   EXPECT_TRUE(hit) << r.err;
                   // Write errors name the store, not the hidden file being written.
                   EXPECT_EQ(lines[0].find("/.Index"), std::string::npos) << lines[0];
                   EXPECT_EQ(lines[0].find("/.wallpaper-store"), std::string::npos) << lines[0];
                   // A store already in place: the steps after it ran all the same, and the error says so.
                   if (storeRewritten) {
                     EXPECT_NE(lines[0].find("; the stores were already changed"), std::string::npos)
                         << lines[0];
                     EXPECT_TRUE(fs::exists(backupFolder(home) / "applied"));
                   }
                   summary[rowName].fatal.push_back(std::to_string(n));
                 }
               });
  }
  printSummary(summary);
}

// The removal, with every file call failing in turn, the reading of the
// backups and the listing of their folder included: the store is as it was
// or wholly restored, and a run that says it restored did. A backup it could
// not read never leaves the slots stripped.
TEST(FaultWalk, EveryFileCallOfAnUninstallFailsCleanly) {
  if (!file_calls::faultInjectionBuilt()) GTEST_SKIP() << "built without ZEPH_FAULT_INJECTION";
  const plist::Value original = test_support::realisticStore();
  const std::vector<std::uint8_t> originalBytes = plist::write(original, plist::Format::Binary);
  const std::vector<std::uint8_t> newInfo =
      readBytes(test_support::binaryDir() / "share/zeph/zeph.saver/Contents/Info.plist");
  std::vector<std::uint8_t> onZeph;  // the store as --apply left it, for the home of the moment
  struct Row {
    const char* call;
    const char* error;
  };
  const Row rows[] = {
      {"open", "EACCES"}, {"write", "ENOSPC"}, {"fsync", "EIO"}, {"rename", "EIO"},
      {"renamex", "EIO"}, {"mkdir", "ENOSPC"}, {"read", "EIO"},  {"opendir", "EACCES"},
  };
  std::map<std::string, Outcomes> summary;
  const auto make = [&](const fs::path& home) {
    setProcessValues(home.string(), true);
    const plist::Value saver(zephIdleNode());
    onZeph = plist::write(test_support::withSlotIdles(original, [&saver](const Slot&) { return saver; }),
                          plist::Format::Binary);
    test_support::writeBytes(storeFile(home), onZeph);
    test_support::writeBytes(backupFolder(home) / "wallpaper-store-backup-2026-01-01T00:00:00Z.plist",
                             originalBytes);
    test_support::writeBytes(saverFolder(home) / "Contents/Info.plist", newInfo);
  };
  for (const Row& row : rows) {
    const std::string rowName = std::string("uninstall ") + row.call + ":" + row.error;
    walkFaults(
        "", row.call, row.error, make,
        [&](const fs::path& home, const RunResult& r, int n, bool hit) {
          const std::vector<std::uint8_t> after = readBytes(storeFile(home));
          const bool restored = after != onZeph;
          if (restored) {
            EXPECT_EQ(plist::read(after), original);
          }
          for (const std::string& name : namesIn(backupFolder(home))) {
            const std::vector<std::uint8_t> backup = readBytes(backupFolder(home) / name);
            EXPECT_TRUE(backup == originalBytes || backup == onZeph) << name;
          }
          EXPECT_EQ(namesIn(storeFile(home).parent_path()), std::vector<std::string>{"Index.plist"});
          if (r.status == 0) {
            EXPECT_TRUE(restored) << r.out;
            EXPECT_EQ(r.out, "uninstalled; " + std::to_string(kRealisticStoreSlots) +
                                 " screensaver slots restored\n");
            EXPECT_FALSE(fs::exists(saverFolder(home)));
            EXPECT_TRUE(errorLines(r.err).empty()) << r.err;
            if (hit) summary[rowName].bestEffort.push_back(std::to_string(n));
            return;
          }
          EXPECT_EQ(r.status, 1) << r.err;
          EXPECT_TRUE(hit) << r.err;
          std::vector<std::string> lines = errorLines(r.err);
          ASSERT_EQ(lines.size(), 1u) << r.err;
          EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(error: [^/]*/.*: [A-Z][a-z].*)"))) << lines[0];
          if (!restored) {
            EXPECT_TRUE(
                fs::exists(saverFolder(home) / "Contents/Info.plist"));  // nothing undone before the store
          }
          summary[rowName].fatal.push_back(std::to_string(n) + (restored ? "+" : ""));
        },
        "--uninstall");
  }
  std::printf("(+: the store was restored before the failure)\n");
  printSummary(summary);
}

// Index.plist and Index2.plist change together or not at all: whichever
// file call fails, including the rename of Index.plist after Index2.plist's,
// both stores are as they were or both hold the saver.
TEST(FaultWalk, APairOfStoresChangesTogetherOrNotAtAll) {
  if (!file_calls::faultInjectionBuilt()) GTEST_SKIP() << "built without ZEPH_FAULT_INJECTION";
  const std::vector<std::uint8_t> first =
      plist::write(test_support::macos26FirstStore(), plist::Format::Binary);
  const std::vector<std::uint8_t> second =
      plist::write(test_support::macos26SecondStore(), plist::Format::Binary);
  bool secondRenameFailed = false;
  const auto make = [&](const fs::path& home) {
    test_support::writeBytes(storeFile(home), first);
    test_support::writeBytes(test_support::secondStoreFile(home), second);
  };
  for (const char* call : {"rename", "write", "fsync", "open"}) {
    walkFaults("", call, "EIO", make, [&](const fs::path& home, const RunResult& r, int, bool) {
      const bool firstChanged = readBytes(storeFile(home)) != first;
      const bool secondChanged = readBytes(test_support::secondStoreFile(home)) != second;
      EXPECT_EQ(firstChanged, secondChanged);
      if (r.status == 0) {
        EXPECT_TRUE(firstChanged);
      }
      if (firstChanged) {
        EXPECT_EQ(zephSlotCount(), 3);
        EXPECT_EQ(zephSlotCount(storePath2), 8);
      }
      EXPECT_EQ(namesIn(storeFile(home).parent_path()),
                (std::vector<std::string>{"Index.plist", "Index2.plist"}));
      if (r.status != 0 && r.err.find("rename(" + storePath + ")") != std::string::npos)
        secondRenameFailed = true;
    });
  }
  EXPECT_TRUE(secondRenameFailed) << "no fault reached the rename of Index.plist";
}

}  // namespace
}  // namespace zeph
