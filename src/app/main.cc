// zeph-installer: puts the zeph screen saver on every screen.
//   zeph-installer           asks first, then installs and offers to set a city
//   zeph-installer --apply   installs without asking and prints one result line

#include <cerrno>
#include <csignal>
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
#include "platform/home.h"

namespace {

constexpr const char* kNoHome =
    "Couldn't find your home folder. Set HOME to its full path (starting with \"/\") and try again.";

bool headlessRequested(int argc, char** argv) {
  // Position 0 counts as well; only the exact text selects the headless run.
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--apply") == 0) return true;
  }
  return false;
}

int runHeadless() {
  std::int64_t count = zeph::applyEverything();
  std::string line =
      "installed " + zeph::saverDest + "; " + std::to_string(count) + " screensaver slots set to zeph\n";
  // A result line that never arrived must not read as success to a script.
  if (std::fputs(line.c_str(), stdout) == EOF || std::fflush(stdout) != 0) {
    zeph::finish(std::string("couldn't print the result: ") + std::strerror(errno));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed standard output would otherwise end the run silently; the failed
  // write is reported like any other. Children get SIGPIPE back (child_process.cc).
  std::signal(SIGPIPE, SIG_IGN);
  bool isHeadless = headlessRequested(argc, argv);
  try {
    std::optional<std::string> home = zeph::currentUserHome();
    if (!home) {
      zeph::setHeadlessOnly(isHeadless);  // finish() needs to know where to report
      zeph::finish(kNoHome);
    }
    zeph::setProcessValues(std::move(*home), isHeadless);
    return isHeadless ? runHeadless() : zeph::runInteractive();
  } catch (const std::exception& e) {
    // InstallerError, std::system_error and plist::Error all carry the
    // user-facing text in what().
    zeph::finish(e.what());
  } catch (...) {
    zeph::finish("An unexpected error stopped the installer.");
  }
}
