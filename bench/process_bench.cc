// process_bench: what the codec's command-line users cost as whole processes,
// beside plistutil and a plistlib one-liner doing the same work, in one run,
// on the large generated wallpaper store.
//
//   process_bench [--runs N] [--spaces N] [--displays N] [--no-peers] [--check]
//
// Each program runs N times (default 5), the programs taking turns so that
// load hits them alike; each figure is the least of its runs: CPU time (user
// + system, from wait4, children included), minor page faults (ru_minflt) and
// peak resident memory (ru_maxrss). Output goes to /dev/null.
//
// ru_maxrss of a child started by posix_spawn starts from the peak of the
// address space it leaves at exec, which is this process's: so this process
// stays small, and a child of it (--make) builds the store files. The floor
// row (/bin/true) shows what any process costs here.
//
// zeph-installer --apply runs in a fresh sandbox home holding the store each
// time; its fixed pause is sleep, not CPU, and the CPU of killall, which it
// runs, is measured alone and taken off. The in-process rewrite it is held
// against is store_rewrite_bench's best time.

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "measured_run.h"
#include "plist/internal/xml_writer.h"
#include "store_maker.h"

namespace {

namespace fs = std::filesystem;

// Targets, as ratios within one run.
constexpr double kPrintVsPlistutil = 5;  // print binary → XML, at least this many times faster
constexpr double kPrintVsPlistlib = 15;  // the same against the plistlib one-liner
constexpr double kApplyVsRewrite = 2;    // --apply CPU at most this many times the in-process rewrite
constexpr double kFaultsPerPage = 2;     // print's page faults per 4 KiB page of input and output
constexpr double kPageSize = 4096;

constexpr const char* kPlistlibOneLiner =
    "import plistlib,sys;sys.stdout.buffer.write(plistlib.dumps(plistlib.load(open(sys.argv[1],'rb'))))";

struct Usage {
  double cpuMs = INFINITY;
  double faults = INFINITY;
  double peakKiB = INFINITY;
  bool ran = false;

  void keepLeast(const Usage& run) {
    cpuMs = std::min(cpuMs, run.cpuMs);
    faults = std::min(faults, run.faults);
    peakKiB = std::min(peakKiB, run.peakKiB);
    ran = true;
  }
};

// The run's usage, or nothing when it did not end with a status in `ok`.
std::optional<Usage> measure(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                             const std::string& out = "/dev/null", const std::vector<int>& ok = {0}) {
  const zeph::bench::MeasuredRun run = zeph::bench::runMeasured(argv, env, out);
  if (std::find(ok.begin(), ok.end(), run.status) == ok.end()) return std::nullopt;
  Usage u;
  u.cpuMs = run.cpuMs;
  u.faults = run.faults;
  u.peakKiB = run.peakKiB;
  u.ran = true;
  return u;
}

void writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// In a child of its own (see the top): the store as binary and as XML.
int makeFiles(const fs::path& dir, int spaces, int displays) {
  zeph::plist::Value store = zeph::plist::StoreMaker(20260807).store(spaces, displays);
  writeFile(dir / "Index.plist", zeph::plist::writeBinary(store));
  writeFile(dir / "Index.xml", zeph::plist::writeXml(store));
  return 0;
}

bool sameBytes(const fs::path& a, const fs::path& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  return std::equal(std::istreambuf_iterator<char>(x), std::istreambuf_iterator<char>(),
                    std::istreambuf_iterator<char>(y), std::istreambuf_iterator<char>());
}

// store_rewrite_bench's best time in ms, or NaN.
double inProcessRewriteMs(int runs) {
  const std::string command = std::string("'" ZEPH_REWRITE_BENCH_PATH "' ") + std::to_string(runs);
  FILE* p = popen(command.c_str(), "r");
  if (!p) return NAN;
  double best = NAN;
  char line[512];
  while (std::fgets(line, sizeof line, p)) std::sscanf(line, "rewriteWallpaperStore: best %lf ms", &best);
  pclose(p);
  return best;
}

struct Program {
  Program(std::string n, std::vector<std::string> a, std::vector<int> codes = {0})
      : name(std::move(n)), argv(std::move(a)), ok(std::move(codes)) {}
  std::string name;
  std::vector<std::string> argv;
  std::vector<int> ok;  // exit statuses of a run that did its work
  Usage least;
};

std::string figure(double v, const char* format) {
  if (!std::isfinite(v)) return "—";
  char b[32];
  std::snprintf(b, sizeof b, format, v);
  return b;
}

int run(int argc, char** argv) {
  int runs = 5, spaces = 3000, displays = 4;
  bool peers = true, check = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--make" && i + 3 < argc)
      return makeFiles(argv[i + 1], std::atoi(argv[i + 2]), std::atoi(argv[i + 3]));
    if (a == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--spaces" && i + 1 < argc) {
      spaces = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--displays" && i + 1 < argc) {
      displays = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--no-peers") {
      peers = false;
    } else if (a == "--check") {
      check = true;
    } else {
      std::fputs("usage: process_bench [--runs N] [--spaces N] [--displays N] [--no-peers] [--check]\n",
                 stderr);
      return 2;
    }
  }

  std::string pattern = (fs::temp_directory_path() / "zeph-process-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 1;
  const fs::path dir = pattern;
  const std::string self = fs::canonical("/proc/self/exe").string();
  if (!measure({self, "--make", dir.string(), std::to_string(spaces), std::to_string(displays)})) {
    std::fputs("process_bench: could not make the store files\n", stderr);
    return 1;
  }
  const std::string bin = (dir / "Index.plist").string(), xml = (dir / "Index.xml").string();
  const double binBytes = static_cast<double>(fs::file_size(bin));
  const double xmlBytes = static_cast<double>(fs::file_size(xml));
  const fs::path home = dir / "home";
  const fs::path store = home / "Library/Application Support/com.apple.wallpaper/Store/Index.plist";
  auto freshHome = [&] {
    fs::remove_all(home);
    fs::create_directories(store.parent_path());
    fs::copy_file(bin, store);
  };
  freshHome();

  // The output must be the bytes the codec writes in process.
  const fs::path printed = dir / "printed.xml";
  if (!measure({ZEPH_STORE_PATH, "print", bin}, {}, printed.string()) || !sameBytes(printed, xml)) {
    std::fputs("process_bench: zeph-store print does not write the store's XML\n", stderr);
    return 1;
  }
  fs::remove(printed);

  const char* pythonEnv = std::getenv("ZEPH_PYTHON");
  const std::string python = pythonEnv ? pythonEnv : "python3";
  std::vector<Program> programs = {
      {"floor: /bin/true", {"/bin/true"}},
      {"print binary → XML", {ZEPH_STORE_PATH, "print", bin}},
      {"  plistutil", {"plistutil", "-i", bin, "-o", "-", "-f", "xml"}},
      {"  plistlib", {python, "-c", kPlistlibOneLiner, bin}},
      {"print XML → XML", {ZEPH_STORE_PATH, "print", xml}},
      {"  plistutil", {"plistutil", "-i", xml, "-o", "-", "-f", "xml"}},
      {"  plistlib", {python, "-c", kPlistlibOneLiner, xml}},
      {"show --json", {ZEPH_STORE_PATH, "show", "--json", store.string()}},
      {"status", {ZEPH_STORE_PATH, "status", "--home", home.string()}, {0, 3}},
  };
  if (!peers) {
    std::erase_if(programs, [](const Program& p) { return p.name.rfind("  ", 0) == 0; });
  }
  Program apply{"--apply (less killall)", {ZEPH_INSTALLER_PATH, "--apply"}};
  Program killall{"killall alone", {"/usr/bin/killall", "WallpaperAgent"}, {0, 1}};

  std::printf("store: %d slots; binary %.2f MB, XML %.2f MB; least of %d runs\n", 1 + spaces * (1 + displays),
              binBytes / 1e6, xmlBytes / 1e6, runs);
  std::fflush(stdout);
  for (int r = 0; r < runs; ++r) {
    for (Program& p : programs) {
      if (auto u = measure(p.argv, {}, "/dev/null", p.ok)) p.least.keepLeast(*u);
    }
    freshHome();
    if (auto u = measure(apply.argv, {"HOME=" + home.string()})) apply.least.keepLeast(*u);
    if (auto u = measure(killall.argv, {}, "/dev/null", killall.ok)) killall.least.keepLeast(*u);
  }
  fs::remove_all(dir);
  if (apply.least.ran && killall.least.ran) apply.least.cpuMs -= killall.least.cpuMs;
  const double rewriteMs = inProcessRewriteMs(runs);

  std::printf("\n%-26s %10s %10s %10s %12s\n", "", "CPU ms", "faults", "peak MB", "peer/ours");
  const Usage* ours = nullptr;
  auto row = [&](const Program& p) {
    if (p.name.rfind("  ", 0) != 0) ours = &p.least;
    const bool peer = ours != &p.least && ours && p.least.ran;
    std::printf("%-26s %10s %10s %10s %12s\n", p.name.c_str(), figure(p.least.cpuMs, "%.1f").c_str(),
                figure(p.least.faults, "%.0f").c_str(), figure(p.least.peakKiB * 1024 / 1e6, "%.1f").c_str(),
                peer ? figure(p.least.cpuMs / ours->cpuMs, "%.1f×").c_str() : "");
  };
  for (const Program& p : programs) row(p);
  row(apply);
  std::printf("%-26s %10s\n", "in-process rewrite (wall)", figure(rewriteMs, "%.1f").c_str());

  auto find = [&](std::size_t i) {
    return i < programs.size() && programs[i].least.ran ? programs[i].least : Usage{};
  };
  const Usage print = find(1);
  const double pages = std::ceil(binBytes / kPageSize) + std::ceil(xmlBytes / kPageSize);
  bool allMet = true;
  auto target = [&](const char* what, double value, double goal, bool atMost) {
    if (!std::isfinite(value)) {
      std::printf("  %-46s not measured\n", what);
      return;
    }
    const bool met = atMost ? value <= goal : value >= goal;
    allMet = allMet && met;
    std::printf("  %-46s %6.2f× (%s %.0f×)  %s\n", what, value, atMost ? "at most" : "at least", goal,
                met ? "met" : "NOT MET");
  };
  std::printf("\ntargets:\n");
  if (peers) {
    target("print binary → XML vs plistutil", find(2).cpuMs / print.cpuMs, kPrintVsPlistutil, false);
    target("print binary → XML vs plistlib", find(3).cpuMs / print.cpuMs, kPrintVsPlistlib, false);
  }
  target("--apply CPU / in-process rewrite", apply.least.cpuMs / rewriteMs, kApplyVsRewrite, true);
  target("print faults / pages of input and output", print.faults / pages, kFaultsPerPage, true);
  return check && !allMet ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "process_bench: %s\n", e.what());
    return 1;
  }
}
