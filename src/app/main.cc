// zeph-installer: puts the zeph screen saver on every screen.
//   zeph-installer               asks first, then installs and offers to set a city
//   zeph-installer --apply       installs without asking and prints one result line
//   zeph-installer --uninstall   undoes --apply without asking and prints one result line
//   zeph-installer --refresh-bundle   replaces an installed zeph.saver with the one carried here
//   zeph-installer --apply|--uninstall|--refresh-bundle --user NAME   (root) the same, for the user NAME
//   zeph-installer --help | --version

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "app/apply.h"
#include "app/command_line.h"
#include "app/fatal_exit.h"
#include "app/installer_command.h"
#include "app/interactive_run.h"
#include "app/run_as_user.h"
#include "base/process_values.h"
#include "base/system_effects.h"
#include "dialog/dialog.h"
#include "platform/error_line.h"
#include "platform/executable_path.h"
#include "platform/home.h"
#include "platform/system_version.h"

namespace {

constexpr const char* kUsage =
    "usage: zeph-installer [--apply | --uninstall | --refresh-bundle] [--user NAME]\n"
    "       zeph-installer --help | --version\n";

constexpr const char* kHelp =
    "\n"
    "Puts the zeph screen saver on every screen of this Mac: copies zeph.saver into\n"
    "~/Library/Screen Savers, selects it as the screen saver, and sets every idle\n"
    "slot of the wallpaper store to it, after a backup of the store in\n"
    "~/Library/Application Support/zeph.\n"
    "\n"
    "  (no option)   asks first, installs, then offers to set the city whose\n"
    "                temperature the saver shows\n"
    "  --apply       installs without asking and prints one result line\n"
    "  --uninstall   puts back each screen's earlier screen saver from the\n"
    "                backups, removes zeph.saver, prints one result line\n"
    "  --refresh-bundle  replaces an installed zeph.saver with the one this\n"
    "                installer carries; changes no setting, installs none\n"
    "  --user NAME   run as root: does the same for the user NAME\n"
    "  -h, --help    prints this help and changes nothing\n"
    "  --version     prints the version and changes nothing\n"
    "\n"
    "Exit status: 0 when done or declined, 1 when it failed, 2 for a wrong command,\n"
    "130 when Ctrl-C came during an interactive install (which was let finish).\n";

// "--help" or "--version" anywhere wins over every other argument, mistakes
// included; the first of them decides.
std::optional<std::string> informationRequested(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      return std::string(kUsage) + kHelp;
    }
    if (std::strcmp(argv[i], "--version") == 0) return std::string("zeph-installer ") + ZEPH_VERSION + "\n";
  }
  return std::nullopt;
}

constexpr const char* kNoHome =
    "Couldn't find your home folder. Set HOME to its full path (starting with \"/\") and try again.";

// A result line that never arrived must not read as success to a script.
void printResult(const std::string& line) {
  if (std::fputs(line.c_str(), stdout) == EOF || std::fflush(stdout) != 0) {
    zeph::finish(std::string("couldn't print the result: ") + std::strerror(errno));
  }
}

int runUninstall() {
  zeph::StoreChangeReport restore = zeph::uninstallEverything();
  for (const std::string& path : restore.backupsUsed)
    std::fprintf(stderr, "restored from %s\n", path.c_str());
  if (restore.slots.both() > 0 && restore.backupsUsed.empty()) {
    std::fputs("no backup holds an earlier entry: the restored slots have none\n", stderr);
  }
  // The result line counts Index.plist alone, as --apply's does.
  if (restore.slots.index2 > 0) {
    std::fprintf(stderr, "%s: %lld screensaver slots restored\n", zeph::storePath2.c_str(),
                 static_cast<long long>(restore.slots.index2));
  }
  printResult("uninstalled; " + std::to_string(restore.slots.index) + " screensaver slots restored\n");
  return 0;
}

int runHeadless() {
  std::int64_t count = zeph::applyEverything();
  printResult(zeph::applyResultLine(count) + "\n");
  return 0;
}

int runRefresh() {
  if (zeph::refreshInstalledSaver()) {
    printResult("refreshed " + zeph::saverDest + "\n");
  } else {
    printResult("no zeph.saver is installed at " + zeph::saverDest + "; nothing changed\n");
  }
  return 0;
}

// Decided before anything else, so that a refused root run touches nothing.
// Its errors go to standard error: no alert is shown for another user.
std::optional<int> runForSomeoneElse(const zeph::InstallerCommand& command) {
  zeph::RunAs runAs = zeph::decideRunAs(command, ::geteuid() == 0, zeph::kPlatformRootRule);
  if (runAs.kind == zeph::RunAs::Kind::Caller) return std::nullopt;
  zeph::setHeadlessOnly(true);
  if (runAs.kind == zeph::RunAs::Kind::Refused) zeph::finish(runAs.error);
  std::optional<std::string> installer = zeph::executablePath();
  if (!installer)
    zeph::finish("couldn't find the installer's own file to run it as \u201C" + runAs.userName + "\u201D");
  return zeph::runAsUser(*installer, runAs.userName, runAs.modeArgs);
}

}  // namespace

int main(int argc, char** argv) {
  if (std::optional<std::string> text = informationRequested(argc, argv)) {
    return std::fputs(text->c_str(), stdout) == EOF || std::fflush(stdout) != 0 ? 1 : 0;
  }
  // The table of effects, set once: the dialogs tell the child-process runner
  // which terminal they draw on; every other effect is the system's own.
  zeph::SystemEffects effects;
  effects.dialogScreenDevice = [] { return zeph::dialogScreenDevice(); };
  zeph::setSystemEffects(std::move(effects));
  // A closed standard output would otherwise end the run silently; the failed
  // write is reported like any other. Children get SIGPIPE back (child_process.cc).
  std::signal(SIGPIPE, SIG_IGN);
  zeph::InstallerCommand command;
  try {
    command = zeph::parseInstallerCommand(argc, argv);
  } catch (const zeph::UsageError& e) {
    return zeph::reportUsageError(e.what(), kUsage);  // before anything is touched
  }
  const bool isHeadless = !command.mode.empty();
  try {
    if (std::optional<int> status = runForSomeoneElse(command)) return *status;
    std::optional<std::string> home = zeph::currentUserHome();
    if (!home) {
      zeph::setHeadlessOnly(isHeadless);  // finish() needs to know where to report
      zeph::finish(kNoHome);
    }
    zeph::setProcessValues(std::move(*home), isHeadless);
    if (command.mode == "--uninstall") return runUninstall();
    if (command.mode == "--refresh-bundle") return runRefresh();
    return isHeadless ? runHeadless() : zeph::runInteractive();
  } catch (const std::bad_alloc&) {
    zeph::finish(std::string("not enough memory to ") +
                 (command.mode == "--uninstall" ? "uninstall" : "install") + " zeph");
  } catch (const std::exception& e) {
    // InstallerError, std::system_error and plist::Error all carry the
    // user-facing text in what().
    zeph::finish(e.what());
  } catch (...) {
    zeph::finish("An unexpected error stopped the installer.");
  }
}
