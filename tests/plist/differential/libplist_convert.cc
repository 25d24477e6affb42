// libplist_convert: the same batch protocol as plist_convert, but through
// libplist's C API (what plistutil does), so the differential suite can put
// thousands of documents through libplist without a process per file.
//   libplist_convert --batch     "bin|xml<TAB>IN<TAB>OUT" lines on stdin

#include <plist/plist.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

struct PlistFree {
  void operator()(void* p) const { plist_free(static_cast<plist_t>(p)); }
};

// Returns an empty string on success, else what went wrong.
std::string convert(const std::string& format, const std::string& in, const std::string& out) {
  std::ifstream i(in, std::ios::binary);
  if (!i) return "cannot open " + in;
  std::string bytes{std::istreambuf_iterator<char>(i), std::istreambuf_iterator<char>()};
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
  if (!root) return "libplist cannot parse it";
  std::unique_ptr<void, PlistFree> owner(root);
  char* encoded = nullptr;
  std::uint32_t length = 0;
  if (format == "bin") {
    plist_to_bin(root, &encoded, &length);
  } else if (format == "xml") {
    plist_to_xml(root, &encoded, &length);
  } else {
    return "unknown output format " + format;
  }
  if (!encoded) return "libplist cannot write it";
  std::ofstream o(out, std::ios::binary | std::ios::trunc);
  o.write(encoded, length);
  std::free(encoded);
  return o.flush() ? "" : "cannot write " + out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::string(argv[1]) != "--batch") {
    std::cerr << "usage: libplist_convert --batch\n";
    return 2;
  }
  std::string line;
  while (std::getline(std::cin, line)) {
    std::size_t a = line.find('\t');
    std::size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
    if (b == std::string::npos) {
      std::cout << "FAIL\t\t\tbad batch line: " << line << '\n';
      continue;
    }
    std::string in = line.substr(a + 1, b - a - 1), out = line.substr(b + 1);
    std::string error = convert(line.substr(0, a), in, out);
    if (!error.empty()) std::cout << "FAIL\t" << in << '\t' << out << '\t' << error << '\n';
  }
  return std::cout.flush() ? 0 : 1;
}
