// zeph-installer: puts the zeph screen saver on every screen.
//   zeph-installer               asks first, then installs and offers to set a city
//   zeph-installer --apply       installs without asking and prints one result line
//   zeph-installer --uninstall   undoes --apply without asking and prints one result line

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "app/apply.h"
#include "app/fatal_exit.h"
#include "app/interactive_run.h"
#include "base/process_values.h"
#include "platform/error_line.h"
#include "platform/home.h"

namespace {

constexpr const char* kNoHome =
    "Couldn't find your home folder. Set HOME to its full path (starting with \"/\") and try again.";

enum class Mode { Interactive, Apply, Uninstall, Conflict };

Mode requestedMode(int argc, char** argv) {
  // Position 0 counts as well; only the exact text selects a headless run.
  bool apply = false;
  bool uninstall = false;
  for (int i = 0; i < argc; ++i) {
    apply = apply || std::strcmp(argv[i], "--apply") == 0;
    uninstall = uninstall || std::strcmp(argv[i], "--uninstall") == 0;
  }
  if (apply && uninstall) return Mode::Conflict;
  return apply ? Mode::Apply : uninstall ? Mode::Uninstall : Mode::Interactive;
}

// A result line that never arrived must not read as success to a script.
void printResult(const std::string& line) {
  if (std::fputs(line.c_str(), stdout) == EOF || std::fflush(stdout) != 0) {
    zeph::finish(std::string("couldn't print the result: ") + std::strerror(errno));
  }
}

int runUninstall() {
  zeph::StoreRestore restore = zeph::uninstallEverything();
  for (const std::string& reason : restore.skipped) std::fprintf(stderr, "skipped backup %s\n", reason.c_str());
  for (const std::string& path : restore.backupsUsed) std::fprintf(stderr, "restored from %s\n", path.c_str());
  if (restore.slots > 0 && restore.backupsUsed.empty()) {
    std::fputs("no backup holds an earlier entry: the restored slots have none\n", stderr);
  }
  printResult("uninstalled; " + std::to_string(restore.slots) + " screensaver slots restored\n");
  return 0;
}

int runHeadless() {
  std::int64_t count = zeph::applyEverything();
  printResult("installed " + zeph::saverDest + "; " + std::to_string(count) + " screensaver slots set to zeph\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Mode mode = requestedMode(argc, argv);
  bool isHeadless = mode != Mode::Interactive;
  if (mode == Mode::Conflict) {
    zeph::writeErrorLine("--apply and --uninstall cannot be used together");
    return 1;
  }
  try {
    std::optional<std::string> home = zeph::currentUserHome();
    if (!home) {
      zeph::setHeadlessOnly(isHeadless);  // finish() needs to know where to report
      zeph::finish(kNoHome);
    }
    zeph::setProcessValues(std::move(*home), isHeadless);
    if (mode == Mode::Uninstall) return runUninstall();
    return isHeadless ? runHeadless() : zeph::runInteractive();
  } catch (const std::exception& e) {
    // InstallerError, std::system_error and plist::Error all carry the
    // user-facing text in what().
    zeph::finish(e.what());
  } catch (...) {
    zeph::finish("An unexpected error stopped the installer.");
  }
}
