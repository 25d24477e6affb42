// zeph-store: an administrator's look at property lists and wallpaper stores.
//   zeph-store print FILE    any property list, written as XML in the platform's layout
//   zeph-store show [FILE]   the slots of a wallpaper store (default: the current user's), and
//                            of Index2.plist beside an Index.plist
//   zeph-store --help | --version

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/process_values.h"
#include "platform/files.h"
#include "platform/home.h"
#include "plist/format.h"
#include "wallpaper_store/store_document.h"
#include "wallpaper_store/store_report.h"

namespace {

constexpr const char* kUsage =
    "usage: zeph-store print FILE\n"
    "       zeph-store show [FILE]\n"
    "       zeph-store --help | --version\n";

constexpr const char* kHelp =
    "\n"
    "Looks at property lists and wallpaper stores; changes nothing.\n"
    "\n"
    "  print FILE    writes any property list (binary, XML or old-style text) as XML\n"
    "  show [FILE]   lists the slots of a wallpaper store and what each idle slot\n"
    "                selects (default: your own store)\n"
    "\n"
    "Exit status: 0 on success, 1 when the file cannot be read, 2 for a wrong command.\n";

int usage() {
  std::fputs(kUsage, stderr);
  return 2;
}


int writeOut(const void* bytes, std::size_t size) {
  return std::fwrite(bytes, 1, size, stdout) == size && std::fflush(stdout) == 0 ? 0 : 1;
}

int writeText(const std::string& text) { return writeOut(text.data(), text.size()); }

int print(const std::string& path) {
  std::vector<std::uint8_t> xml =
      zeph::plist::write(zeph::parseStore(zeph::readFile(path), path), zeph::plist::Format::Xml);
  return writeOut(xml.data(), xml.size());
}

std::string reportOf(const std::string& path) {
  zeph::plist::Value document = zeph::parseStore(zeph::loadStore(path), path);
  if (!document.asDictionary()) throw std::runtime_error(path + ": the top level is not a dictionary");
  return zeph::storeReport(*document.asDictionary());
}

// Index2.plist is looked at whenever Index.plist is: macOS 26 keeps both, and
// which one its agent reads is not known.
int show(std::optional<std::string> path) {
  std::string first;
  std::string second;
  if (path) {
    first = *path;
    std::size_t slash = first.rfind('/');
    std::string folder = slash == std::string::npos ? "" : first.substr(0, slash + 1);
    if (first.substr(folder.size()) == "Index.plist") second = folder + "Index2.plist";
  } else {
    std::optional<std::string> home = zeph::currentUserHome();
    if (!home) throw std::runtime_error("cannot tell the current user's home folder");
    first = zeph::storePathIn(*home);
    second = zeph::storePath2In(*home);
    // A Mac with only the second store: show that one.
    if (!zeph::storeExists(first) && zeph::storeExists(second)) std::swap(first, second);
  }
  if (second.empty() || !zeph::storeExists(second)) {
    std::string report = reportOf(first);
    return writeOut(report.data(), report.size());
  }
  std::string report = first + ":\n" + reportOf(first) + second + ":\n" + reportOf(second);
  return writeOut(report.data(), report.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // As for zeph-installer: these two win over everything else.
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") return writeText(std::string(kUsage) + kHelp);
    if (arg == "--version") return writeText(std::string("zeph-store ") + ZEPH_VERSION + "\n");
  }
  try {
    if (args.size() == 2 && args[0] == "print") return print(args[1]);
    if (args.size() == 1 && args[0] == "show") return show(std::nullopt);
    if (args.size() == 2 && args[0] == "show") return show(args[1]);
    return usage();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    return 1;
  }
}
