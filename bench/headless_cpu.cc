// How much CPU a headless run spends beside its fixed 1.5-second pause.
//
//   headless_cpu [RUNS]
//
// Each run installs into a fresh sandbox home holding the demo store
// (scripts/make_demo_store.py) with no wallpaper agent running, so one pass is
// made. The run's CPU time comes from wait4(), which also counts the children
// the installer waited for; killall is measured alone the same way and taken
// off, leaving the installer's own time. Budget: 20 ms.
//
// A copy of the installer with no saver bundle beside it, which stops right
// after start-up, shows the share of start-up (the dynamic loader and static
// initialisers) on its own. libcurl, with the thirty-odd libraries behind it,
// is not part of it: it is loaded only when a lookup first needs it.

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "measured_run.h"

namespace {

namespace fs = std::filesystem;

constexpr double kBudgetMs = 20.0;

using zeph::bench::runMeasured;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  std::string pattern = (fs::temp_directory_path() / "zeph-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 1;
  const fs::path sandbox = pattern;
  const fs::path home = sandbox / "Users/demo";
  const fs::path store = home / "Library/Application Support/com.apple.wallpaper/Store/Index.plist";

  const fs::path lone = sandbox / "lone/bin/zeph-installer";  // no bundle beside it
  fs::create_directories(lone.parent_path());
  fs::copy_file(ZEPH_INSTALLER_PATH, lone);

  std::vector<double> runCpu, runWall, killallCpu, startupCpu;
  for (int i = 0; i < runs; ++i) {
    fs::remove_all(home);
    fs::create_directories(home);
    zeph::bench::MeasuredRun made =
        runMeasured({"python3", ZEPH_SOURCE_DIR "/scripts/make_demo_store.py", store.string()}, {});
    if (made.status != 0) {
      std::fprintf(stderr, "could not make the demo store\n");
      return 1;
    }
    zeph::bench::MeasuredRun run = runMeasured({ZEPH_INSTALLER_PATH, "--apply"}, {"HOME=" + home.string()});
    if (run.status != 0) {
      std::fprintf(stderr, "the headless run failed with status %d\n", run.status);
      return 1;
    }
    runCpu.push_back(run.cpuMs);
    runWall.push_back(run.wallMs);
    killallCpu.push_back(runMeasured({"/usr/bin/killall", "WallpaperAgent"}).cpuMs);
    startupCpu.push_back(runMeasured({lone.string(), "--apply"}, {"HOME=" + home.string()}).cpuMs);
  }
  fs::remove_all(sandbox);

  double own = median(runCpu) - median(killallCpu);
  std::printf("headless run on the demo store, median of %d runs:\n", runs);
  std::printf("  wall time                   %8.1f ms (pause 1500 ms)\n", median(runWall));
  std::printf("  CPU, installer and children %8.2f ms\n", median(runCpu));
  std::printf("  CPU, killall alone          %8.2f ms\n", median(killallCpu));
  std::printf("  CPU, installer's own        %8.2f ms (budget %.0f ms): %s\n", own, kBudgetMs,
              own <= kBudgetMs ? "within" : "OVER");
  std::printf("    of which start-up          %8.2f ms (loading the shared libraries)\n", median(startupCpu));
  std::printf("    of which the apply itself  %8.2f ms\n", own - median(startupCpu));
  return 0;
}
