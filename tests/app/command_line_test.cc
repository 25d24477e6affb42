// The command lines of both programs: "--help" and "--version" print, exit 0
// and touch nothing, whatever else is on the command line; a typo, two modes
// or a missing value is refused with what is wrong and the usage, exit 2,
// before anything is touched.

#include "app/command_line.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "app/installer_command.h"
#include "support/installer_runner.h"
#include "support/sandbox.h"

namespace zeph {
namespace {

namespace fs = std::filesystem;
using test_support::runInstaller;
using test_support::runProgram;
using test_support::RunResult;
using test_support::Sandbox;

const std::string kStore = (test_support::installerPath().parent_path() / "zeph-store").string();

TEST(CommandLine, RegressionHelpPrintsUsageInsteadOfStartingTheInstaller) {
  for (const auto& args : {std::vector<std::string>{"--help"},
                           {"-h"},
                           {"--apply", "--help"},
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

TEST(CommandLine, PositionalArgumentsAndSerialNumbersStayIgnored) {
  // Older macOS launchers pass "-psn_…" and management tools their own
  // positional arguments; without a terminal the interactive run stops before
  // changing anything.
  Sandbox box;
  RunResult r = runInstaller({"-psn_0_12345", "policy-42", "Zoë"}, box.path().string());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "error: no terminal to ask on; run zeph-installer --apply for an unattended install\n");
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(fs::is_empty(box.path()));
}

InstallerCommand parsed(const std::string& self, std::vector<std::string> args) {
  std::vector<const char*> argv{self.c_str()};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  return parseInstallerCommand(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLine, InstallerCommandsAsParsed) {
  struct Case {
    std::string self;
    std::vector<std::string> args;
    std::string mode;
    std::optional<std::string> user;
  };
  const std::string installer = "/usr/local/bin/zeph-installer";
  const Case cases[] = {
      {installer, {}, "", std::nullopt},
      {installer, {"--apply", "--apply"}, "--apply", std::nullopt},
      {installer, {"positional", "--uninstall", "-psn_0_1"}, "--uninstall", std::nullopt},
      {installer, {"--user", "zoe", "--uninstall"}, "--uninstall", "zoe"},
      {"--apply", {"--user", "zoe"}, "--apply", "zoe"},  // the program's own name, as the first argument
      {"--apply", {"--apply"}, "--apply", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.self + " " + (c.args.empty() ? "" : c.args[0]));
    InstallerCommand command = parsed(c.self, c.args);
    EXPECT_EQ(command.mode, c.mode);
    EXPECT_EQ(command.user, c.user);
  }
  EXPECT_THROW(parsed("--uninstall", {"--apply"}), UsageError);
}

TEST(CommandLine, NearestOptionOnlyWhenClose) {
  const std::pair<std::string, std::string> cases[] = {
      {"--uninstal", "--uninstall"},
      {"--aplpy", "--apply"},
      {"--APPLY", "--apply"},
      {"-apply", "--apply"},
      {"--us", "--user"},
      {"--helpme", "--help"},
      {"-j", ""},
      {"--", ""},
      {"--apply=yes", ""},
      {"--verbose", ""},
      {"--u", ""},
      {"-psn", ""},
  };
  for (const auto& [typed, nearest] : cases) {
    EXPECT_EQ(nearestOption(typed, installerOptions()), nearest) << typed;
  }
}

// One line of what is wrong, then the usage; nothing on standard output and
// nothing in the home folder.
struct Refusal {
  std::vector<std::string> argv;  // argv[0]: "installer" or "store"
  std::string error;
};

TEST(CommandLine, MistakesAreRefusedWithWhatIsWrongAndTheUsage) {
  const Refusal refusals[] = {
      {{"installer", "--uninstal"}, "unknown option '--uninstal' (did you mean '--uninstall'?)"},
      {{"installer", "--aply"}, "unknown option '--aply' (did you mean '--apply'?)"},
      {{"installer", "--Version"}, "unknown option '--Version' (did you mean '--version'?)"},
      {{"installer", "--helpme"}, "unknown option '--helpme' (did you mean '--help'?)"},
      {{"installer", "positional", "--apply=yes"}, "unknown option '--apply=yes'"},
      {{"installer", "--apply", "-x"}, "unknown option '-x'"},
      {{"installer", "-"}, "unknown option '-'"},
      {{"installer", "--apply", "--uninstall"}, "use only one of --apply, --uninstall and --refresh-bundle"},
      {{"installer", "--refresh-bundle", "--apply"},
       "use only one of --apply, --uninstall and --refresh-bundle"},
      {{"installer", "--refresh-bundel"},
       "unknown option '--refresh-bundel' (did you mean '--refresh-bundle'?)"},
      {{"installer", "--user"}, "--user needs a value: --user NAME"},
      {{"installer", "--apply", "--user"}, "--user needs a value: --user NAME"},
      {{"installer", "--user", "--apply"}, "--user needs a value: --user NAME"},
      {{"installer", "--apply", "--user", ""}, "--user needs a value: --user NAME"},
      {{"installer", "--apply", "--user", "zoe", "--user", "max"}, "--user can be given only once"},
      {{"installer", "--user", "zoe"}, "--user works only with --apply, --uninstall or --refresh-bundle"},
      {{"store", "show", "--jsn"}, "unknown option '--jsn' (did you mean '--json'?)"},
      {{"store", "status", "--hme", "/h"}, "unknown option '--hme' (did you mean '--home'?)"},
      {{"store", "shw"}, "unknown command 'shw' (did you mean 'show'?)"},
      {{"store", "frobnicate"}, "unknown command 'frobnicate'"},
      {{"store", "--json"}, "no command: print, show, status or backups"},
      {{"store", "status", "--home"}, "--home needs a value: --home DIR"},
      {{"store", "backups", "--user", "--json"}, "--user needs a value: --user NAME"},
      {{"store", "status", "--user", "a", "--home", "/b"}, "use only one of --user and --home"},
      {{"store", "show", "FILE", "--home", "/b"}, "use only one of FILE, --user and --home"},
      {{"store", "status", "--home", "/a", "--home", "/b"}, "--home can be given only once"},
      {{"store", "backups", "--json"}, "--json works only with show"},
      {{"store", "status", "FILE"}, "unexpected argument 'FILE'"},
      {{"store", "show", "a", "b"}, "unexpected argument 'b'"},
      {{"store", "print"}, "print needs a FILE"},
      {{"store", "print", "FILE", "--home", "/b"}, "print takes only a FILE, not --home"},
  };
  for (const Refusal& c : refusals) {
    Sandbox box;
    const bool isStore = c.argv[0] == "store";
    std::vector<std::string> argv = c.argv;
    argv[0] = isStore ? kStore : test_support::installerPath().string();
    RunResult r = runProgram(argv, box.path().string());
    SCOPED_TRACE(c.error);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    const std::string usage = isStore ? "usage: zeph-store print FILE\n" : "usage: zeph-installer [--apply";
    EXPECT_EQ(r.err.rfind("error: " + c.error + "\n" + usage, 0), 0u) << r.err;
    EXPECT_TRUE(fs::is_empty(box.path())) << "a refused command changed the home folder";
  }
}

TEST(CommandLine, StoreToolHelpAndVersion) {
  RunResult help = runProgram({kStore, "show", "--help"}, std::nullopt);
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: zeph-store print FILE", 0), 0u) << help.out;
  RunResult version = runProgram({kStore, "--version"}, std::nullopt);
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("zeph-store ", 0), 0u);
  // No command at all: the usage alone.
  RunResult bare = runProgram({kStore}, std::nullopt);
  EXPECT_EQ(bare.status, 2);
  EXPECT_EQ(bare.err.rfind("usage: zeph-store print FILE\n", 0), 0u) << bare.err;
  // A mistake next to --help: the help wins.
  EXPECT_EQ(runProgram({kStore, "shw", "--jsn", "--help"}, std::nullopt).out, help.out);
  EXPECT_EQ(runInstaller({"--uninstal", "-h"}, std::nullopt).status, 0);
}

}  // namespace
}  // namespace zeph
