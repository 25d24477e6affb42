// zeph-store: an administrator's look at property lists and wallpaper stores.
//   zeph-store print FILE   any property list, written as XML in the platform's layout

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "platform/files.h"
#include "wallpaper_store/plist/format.h"

namespace {

int usage() {
  std::fputs("usage: zeph-store print FILE\n", stderr);
  return 2;
}

int print(const std::string& path) {
  std::vector<std::uint8_t> xml = zeph::plist::write(zeph::plist::read(zeph::readFile(path)), zeph::plist::Format::Xml);
  return std::fwrite(xml.data(), 1, xml.size(), stdout) == xml.size() && std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() == 2 && args[0] == "print") return print(args[1]);
    return usage();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    return 1;
  }
}
