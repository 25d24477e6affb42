// plist_convert: the differential suite's handle on our codec.
//   plist_convert IN OUT bin|xml     convert one document (any format in)
//   plist_convert --batch            read "bin|xml<TAB>IN<TAB>OUT" lines from stdin
// In batch mode every failure is one line "FAIL<TAB>IN<TAB>OUT<TAB>message" on
// standard output and the run goes on, so one process serves thousands of files.

#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "plist/format.h"

namespace {

std::vector<std::uint8_t> slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void convert(const std::string& format, const std::string& in, const std::string& out) {
  zeph::plist::Format f;
  if (format == "bin") {
    f = zeph::plist::Format::Binary;
  } else if (format == "xml") {
    f = zeph::plist::Format::Xml;
  } else {
    throw std::runtime_error("unknown output format " + format);
  }
  std::vector<std::uint8_t> bytes = zeph::plist::write(zeph::plist::read(slurp(in)), f);
  std::ofstream o(out, std::ios::binary | std::ios::trunc);
  o.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!o.flush()) throw std::runtime_error("cannot write " + out);
}

int batch() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::size_t a = line.find('\t');
    std::size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
    if (b == std::string::npos) {
      std::cout << "FAIL\t\t\tbad batch line: " << line << '\n';
      continue;
    }
    std::string in = line.substr(a + 1, b - a - 1), out = line.substr(b + 1);
    try {
      convert(line.substr(0, a), in, out);
    } catch (const std::exception& e) {
      std::string message = e.what();
      for (char& c : message) {
        if (c == '\n' || c == '\t') c = ' ';
      }
      std::cout << "FAIL\t" << in << '\t' << out << '\t' << message << '\n';
    }
  }
  return std::cout.flush() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() == 1 && args[0] == "--batch") return batch();
    if (args.size() == 3) {
      convert(args[2], args[0], args[1]);
      return 0;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "plist_convert: %s\n", e.what());
    return 1;
  }
  std::fputs("usage: plist_convert IN OUT bin|xml | plist_convert --batch\n", stderr);
  return 2;
}
