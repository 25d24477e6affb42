// "--help" and "--version" of both programs: they print, exit 0 and touch
// nothing, whatever else is on the command line.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "support/installer_runner.h"
#include "support/sandbox.h"

namespace zeph {
namespace {

namespace fs = std::filesystem;
using testing::RunResult;
using testing::runInstaller;
using testing::runProgram;
using testing::Sandbox;

const std::string kStore = (fs::path(ZEPH_INSTALLER_PATH).parent_path() / "zeph-store").string();

TEST(CommandLine, RegressionHelpPrintsUsageInsteadOfStartingTheInstaller) {
  for (const auto& args : {std::vector<std::string>{"--help"}, {"-h"}, {"--apply", "--help"},
                           {"--user", "someone", "-h", "--apply"}}) {
    Sandbox box;
    RunResult r = runInstaller(args, box.path().string());
    SCOPED_TRACE(args.back());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("usage: zeph-installer", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("--apply"), std::string::npos);
    EXPECT_NE(r.out.find("--user NAME"), std::string::npos);
    EXPECT_NE(r.out.find("Exit status"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(box.path())) << "the help run changed the home folder";
  }
}

TEST(CommandLine, VersionPrintsTheProjectVersion) {
  Sandbox box;
  RunResult r = runInstaller({"--apply", "--version"}, box.path().string());
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(std::regex_match(r.out, std::regex("zeph-installer [0-9]+\\.[0-9]+(\\.[0-9]+)*\n"))) << r.out;
  EXPECT_TRUE(fs::is_empty(box.path()));
  // The first of the two decides.
  EXPECT_EQ(runInstaller({"--version", "--help"}, box.path().string()).out, r.out);
}

TEST(CommandLine, OtherUnknownArgumentsStayIgnored) {
  // macOS passes "-psn_…" to programs it launches; without a terminal the
  // interactive run stops before changing anything.
  Sandbox box;
  RunResult r = runInstaller({"-psn_0_12345", "--helpme", "--Version"}, box.path().string());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "error: no terminal to ask on; run zeph-installer --apply for an unattended install\n");
  EXPECT_EQ(r.out, "");
}

TEST(CommandLine, StoreToolHelpAndVersion) {
  RunResult help = runProgram({kStore, "show", "--help"}, std::nullopt);
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: zeph-store print FILE", 0), 0u) << help.out;
  RunResult version = runProgram({kStore, "--version"}, std::nullopt);
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("zeph-store ", 0), 0u);
  RunResult wrong = runProgram({kStore, "frobnicate"}, std::nullopt);
  EXPECT_EQ(wrong.status, 2);
  EXPECT_EQ(wrong.out, "");
}

}  // namespace
}  // namespace zeph
