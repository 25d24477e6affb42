// codec_bench: our property-list codec against libplist and CPython's
// plistlib, in one run, on a large generated wallpaper store.
//
//   codec_bench [--spaces N] [--displays N] [--reps N] [--no-plistlib] [--check]
//
// Prints the store's size, each codec's best time for binary and XML parse
// and write, the ratios, our peak memory for a binary parse + write (measured
// in a child process that does only that), and whether each target is met.
// With --check the exit status is 1 when a target is missed.

#include <plist/plist.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "plist/internal/binary_reader.h"
#include "plist/internal/binary_writer.h"
#include "plist/internal/xml_reader.h"
#include "plist/internal/xml_writer.h"
#include "plist/value.h"
#include "store_maker.h"

extern char** environ;

namespace zeph::plist {
namespace {

// Targets: binary parse + write 100× libplist and 50× plistlib, XML parse
// 3× libplist, peak memory of a binary parse + write at most 5× the file.
constexpr double kBinaryVsLibplist = 100;
constexpr double kBinaryVsPlistlib = 50;
constexpr double kXmlParseTarget = 3;
constexpr double kMemoryTarget = 5;

using Bytes = std::vector<std::uint8_t>;

// ------------------------------------------------------------ timing

// Best of `reps` runs, in seconds.
double best(int reps, const std::function<void()>& f) {
  double bestSeconds = INFINITY;
  for (int i = 0; i < reps; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    auto t1 = std::chrono::steady_clock::now();
    bestSeconds = std::min(bestSeconds, std::chrono::duration<double>(t1 - t0).count());
  }
  return bestSeconds;
}

struct Times {
  double binParse = NAN, binWrite = NAN, xmlParse = NAN, xmlWrite = NAN;
};

Times timeOurs(const Bytes& bin, const Bytes& xml, int reps) {
  Times t;
  Value v;
  t.binParse = best(reps, [&] { v = readBinary(bin); });
  t.binWrite = best(reps, [&] {
    if (writeBinary(v).empty()) std::abort();
  });
  Value x;
  t.xmlParse = best(reps, [&] { x = readXml(xml); });
  t.xmlWrite = best(reps, [&] {
    if (writeXml(x).empty()) std::abort();
  });
  return t;
}

Times timeLibplist(const Bytes& bin, const Bytes& xml, int reps) {
  Times t;
  plist_t root = nullptr;
  auto parse = [&](const Bytes& b, bool binary) {
    if (root) plist_free(root);
    root = nullptr;
    if (binary) {
      plist_from_bin(reinterpret_cast<const char*>(b.data()), static_cast<std::uint32_t>(b.size()), &root);
    } else {
      plist_from_xml(reinterpret_cast<const char*>(b.data()), static_cast<std::uint32_t>(b.size()), &root);
    }
    if (!root) {
      std::fputs("libplist could not parse the store\n", stderr);
      std::exit(1);
    }
  };
  auto write = [&](bool binary) {
    char* out = nullptr;
    std::uint32_t length = 0;
    if (binary) {
      plist_to_bin(root, &out, &length);
    } else {
      plist_to_xml(root, &out, &length);
    }
    std::free(out);
  };
  t.binParse = best(reps, [&] { parse(bin, true); });
  t.binWrite = best(reps, [&] { write(true); });
  t.xmlParse = best(reps, [&] { parse(xml, false); });
  t.xmlWrite = best(reps, [&] { write(false); });
  plist_free(root);
  return t;
}

// Runs plistlib in python3 on the two files; its script times itself.
Times timePlistlib(const std::string& binPath, const std::string& xmlPath, int reps) {
  Times t;
  const char* python = std::getenv("ZEPH_PYTHON");
  std::string command = std::string(python ? python : "python3") +
                        " '" ZEPH_BENCH_DIR "/plistlib_bench.py' '" + binPath + "' '" + xmlPath + "' " +
                        std::to_string(reps);
  FILE* p = popen(command.c_str(), "r");
  if (!p) return t;
  std::map<std::string, double> seen;
  char name[64];
  double seconds;
  while (std::fscanf(p, "%63s %lf", name, &seconds) == 2) seen[name] = seconds;
  if (pclose(p) != 0) std::fputs("plistlib run failed; its column is empty\n", stderr);
  auto get = [&](const char* k) { return seen.count(k) ? seen[k] : NAN; };
  t.binParse = get("binary_parse");
  t.binWrite = get("binary_write");
  t.xmlParse = get("xml_parse");
  t.xmlWrite = get("xml_write");
  return t;
}

// Peak resident memory, in bytes, of a child that only parses and writes binary.
long peakMemory(const std::string& self, const std::string& binPath) {
  std::string tmp = binPath + ".peak";
  pid_t pid;
  std::vector<std::string> args = {self, "--peak", binPath, tmp};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  std::ifstream in(tmp);
  long kb = -1;
  in >> kb;
  std::filesystem::remove(tmp);
  return kb * 1024;
}

// The process's peak resident memory in KiB. VmHWM belongs to the address
// space this program was exec'd into; ru_maxrss is only a fallback, because
// after posix_spawn (a vfork) it starts from the parent's peak.
long peakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

int peakChild(const std::string& binPath, const std::string& out) {
  Bytes bin = zeph::readFile(binPath);  // read as the store code reads it: one buffer of the file's size
  Value v = readBinary(bin);
  Bytes again = writeBinary(v);
  if (again.empty()) return 1;
  std::ofstream(out) << peakResidentKiB() << '\n';
  return 0;
}

// ------------------------------------------------------------ report

std::string ms(double s) {
  if (std::isnan(s)) return "—";
  char b[32];
  std::snprintf(b, sizeof b, s < 0.01 ? "%.2f ms" : s < 1 ? "%.1f ms" : "%.0f ms", s * 1000);
  return b;
}

std::string ratio(double peer, double ours) {
  if (std::isnan(peer) || std::isnan(ours) || ours <= 0) return "—";
  char b[32];
  std::snprintf(b, sizeof b, "%.1f×", peer / ours);
  return b;
}

void writeFile(const std::string& path, const Bytes& b) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

int run(int argc, char** argv) {
  int spaces = 3000, displays = 4, reps = 5;
  bool plistlib = true, check = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--peak" && i + 2 < argc) return peakChild(argv[i + 1], argv[i + 2]);
    if (a == "--spaces" && i + 1 < argc) {
      spaces = std::atoi(argv[++i]);
    } else if (a == "--displays" && i + 1 < argc) {
      displays = std::atoi(argv[++i]);
    } else if (a == "--reps" && i + 1 < argc) {
      reps = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--no-plistlib") {
      plistlib = false;
    } else if (a == "--check") {
      check = true;
    } else {
      std::fputs("usage: codec_bench [--spaces N] [--displays N] [--reps N] [--no-plistlib] [--check]\n",
                 stderr);
      return 2;
    }
  }

  Value store = StoreMaker(20260807).store(spaces, displays);
  Bytes bin = writeBinary(store);
  Bytes xml = writeXml(store);
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("codec_bench." + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::string binPath = dir / "Index.plist", xmlPath = dir / "Index.xml.plist";
  writeFile(binPath, bin);
  writeFile(xmlPath, xml);
  std::printf("store: %d spaces x %d displays, %d slots with Idle and Desktop; binary %.2f MB, XML %.2f MB\n",
              spaces, displays, 1 + spaces * (1 + displays), bin.size() / 1e6, xml.size() / 1e6);
  std::printf("best of %d runs (plistlib: of %d)\n\n", reps, std::max(1, reps / 3));
  std::fflush(stdout);

  Times ours = timeOurs(bin, xml, reps);
  Times lp = timeLibplist(bin, xml, std::max(1, reps / 2 + 1));
  Times py = plistlib ? timePlistlib(binPath, xmlPath, std::max(1, reps / 3)) : Times{};
  long peak = peakMemory(std::filesystem::canonical("/proc/self/exe"), binPath);
  std::filesystem::remove_all(dir);

  std::printf("%-14s %12s %12s %12s %12s %12s\n", "", "ours", "libplist", "plistlib", "libplist/us",
              "plistlib/us");
  auto row = [&](const char* name, double o, double l, double p) {
    std::printf("%-14s %12s %12s %12s %12s %12s\n", name, ms(o).c_str(), ms(l).c_str(), ms(p).c_str(),
                ratio(l, o).c_str(), ratio(p, o).c_str());
  };
  row("binary parse", ours.binParse, lp.binParse, py.binParse);
  row("binary write", ours.binWrite, lp.binWrite, py.binWrite);
  row("binary both", ours.binParse + ours.binWrite, lp.binParse + lp.binWrite, py.binParse + py.binWrite);
  row("XML parse", ours.xmlParse, lp.xmlParse, py.xmlParse);
  row("XML write", ours.xmlWrite, lp.xmlWrite, py.xmlWrite);
  std::printf("\npeak memory, binary parse + write: %.1f MB = %.1f× the binary file\n\n", peak / 1e6,
              static_cast<double>(peak) / static_cast<double>(bin.size()));

  bool allMet = true;
  auto target = [&](const char* what, double value, double goal, bool atMost) {
    bool met = !std::isnan(value) && (atMost ? value <= goal : value >= goal);
    if (std::isnan(value)) {
      std::printf("  %-52s not measured\n", what);
      return;
    }
    allMet = allMet && met;
    std::printf("  %-52s %6.1f× (%s %.0f×)  %s\n", what, value, atMost ? "at most" : "at least", goal,
                met ? "met" : "NOT MET");
  };
  double oursBoth = ours.binParse + ours.binWrite;
  std::printf("targets:\n");
  target("binary parse + write vs libplist", (lp.binParse + lp.binWrite) / oursBoth, kBinaryVsLibplist,
         false);
  target("binary parse + write vs plistlib", (py.binParse + py.binWrite) / oursBoth, kBinaryVsPlistlib,
         false);
  target("XML parse vs libplist", lp.xmlParse / ours.xmlParse, kXmlParseTarget, false);
  target("peak memory / binary size",
         peak > 0 ? static_cast<double>(peak) / static_cast<double>(bin.size()) : NAN, kMemoryTarget, true);
  return check && !allMet ? 1 : 0;
}

}  // namespace
}  // namespace zeph::plist

int main(int argc, char** argv) {
  try {
    return zeph::plist::run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "codec_bench: %s\n", e.what());
    return 1;
  }
}
