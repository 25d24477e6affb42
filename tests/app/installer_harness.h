#ifndef ZEPH_TESTS_MAIN_INSTALLER_HARNESS_H_
#define ZEPH_TESTS_MAIN_INSTALLER_HARNESS_H_

/// Helpers for the tests that run the built installer as a separate process:
/// a sandbox folder removed afterwards, a runner that captures the exit status
/// and both output streams, and a realistic wallpaper store to start from.

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "plist/format.h"
#include "plist/value.h"

extern char** environ;

namespace zeph::testing {

namespace fs = std::filesystem;

/// A fresh folder under the temporary folder; removed with its content, even
/// when a test made parts of it read-only.
class Sandbox {
 public:
  Sandbox() {
    std::string pattern = (fs::temp_directory_path() / "zeph-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;
  ~Sandbox() {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      if (it->is_directory(ec) && !it->is_symlink(ec)) fs::permissions(it->path(), fs::perms::owner_all, ec);
    }
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;  // absolute, exists until destruction
};

inline void writeBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

inline std::vector<std::uint8_t> readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline fs::path storeFile(const fs::path& home) {
  return home / "Library/Application Support/com.apple.wallpaper/Store/Index.plist";
}
inline fs::path saverFolder(const fs::path& home) { return home / "Library/Screen Savers/zeph.saver"; }
inline fs::path backupFolder(const fs::path& home) { return home / "Library/Application Support/zeph"; }

inline std::size_t backupCount(const fs::path& home) {
  std::error_code ec;
  std::size_t n = 0;
  for (const auto& entry : fs::directory_iterator(backupFolder(home), ec)) {
    if (entry.path().filename().string().rfind("wallpaper-store-backup-", 0) == 0) ++n;
  }
  return n;
}

// A slot as real stores carry it: some other provider chosen, "$null" strings.
inline plist::Value otherSlot(const char* provider) {
  plist::Dictionary choice;
  choice.set("Provider", plist::Value(provider));
  choice.set("Files", plist::Value(plist::Array{}));
  choice.set("Configuration", plist::Value(plist::Data{0x62, 0x70, 0x6c, 0x69, 0x73, 0x74}));
  plist::Dictionary content;
  content.set("Choices", plist::Value(plist::Array{plist::Value(std::move(choice))}));
  content.set("Shuffle", plist::Value("$null"));
  content.set("EncodedOptionValues", plist::Value("$null"));
  plist::Dictionary slot;
  slot.set("Content", plist::Value(std::move(content)));
  slot.set("LastSet", plist::Value(plist::Date{7.0e8}));
  slot.set("LastUse", plist::Value(plist::Date{7.1e8}));
  return plist::Value(std::move(slot));
}

inline plist::Value record(bool withIdle) {
  plist::Dictionary r;
  r.set("Type", plist::Value("individual"));
  r.set("Desktop", otherSlot("com.apple.wallpaper.choice.image"));
  if (withIdle) r.set("Idle", otherSlot("com.apple.wallpaper.choice.aerials"));
  return plist::Value(std::move(r));
}

/// The system default and two spaces, each with a default and two displays:
/// seven idle slots, plus the keys a real store carries beside them.
inline plist::Value realisticStore() {
  plist::Dictionary root;
  root.set("SystemDefault", record(true));
  root.set("AllSpacesAndDisplays", plist::Value("$null"));
  plist::Dictionary topDisplays;
  topDisplays.set("37D8832A-2D66-02CA-B9F7-8F30A301B230", record(false));
  root.set("Displays", plist::Value(std::move(topDisplays)));
  plist::Dictionary spaces;
  for (const char* space : {"", "4F1E8C6A-1B1D-4C8E-9E55-0F1C2D3E4A5B"}) {
    plist::Dictionary displays;
    displays.set("Main", record(true));
    displays.set("37D8832A-2D66-02CA-B9F7-8F30A301B230", record(false));  // gains an Idle slot
    plist::Dictionary s;
    s.set("Default", record(true));
    s.set("Displays", plist::Value(std::move(displays)));
    spaces.set(space, plist::Value(std::move(s)));
  }
  root.set("Spaces", plist::Value(std::move(spaces)));
  return plist::Value(std::move(root));
}
constexpr std::int64_t kRealisticStoreSlots = 7;

struct RunResult {
  int status = -1;  // exit status, 128 + signal, or -1 when it could not start
  std::string out;
  std::string err;
};

/// Runs `argv` (argv[0] an absolute path) with the environment of the tests,
/// HOME replaced by `home` or removed; standard input is /dev/null. A run that
/// takes more than a minute is killed. Standard output goes to `stdoutPath`
/// when given (e.g. /dev/full), else it is captured.
inline RunResult runProgram(const std::vector<std::string>& argv, const std::optional<std::string>& home,
                            const char* stdoutPath = nullptr) {
  Sandbox streams;
  const std::string outPath = (streams.path() / "out").string();
  const std::string errPath = (streams.path() / "err").string();
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e).rfind("HOME=", 0) != 0) env.emplace_back(*e);
  }
  if (home) env.push_back("HOME=" + *home);
  std::vector<char*> cargv, cenv;
  for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);
  for (const auto& e : env) cenv.push_back(const_cast<char*>(e.c_str()));
  cenv.push_back(nullptr);

  pid_t pid = ::fork();
  if (pid == 0) {
    // No controlling terminal: an interactive run must not reach the user's screen.
    ::setsid();
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(stdoutPath != nullptr ? stdoutPath : outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execve(cargv[0], cargv.data(), cenv.data());
    ::_exit(127);
  }
  RunResult result;
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = readText(outPath);
  result.err = readText(errPath);
  return result;
}

inline RunResult runInstaller(const std::vector<std::string>& args, const std::optional<std::string>& home,
                              const std::string& installer = ZEPH_INSTALLER_PATH) {
  std::vector<std::string> argv{installer};
  argv.insert(argv.end(), args.begin(), args.end());
  return runProgram(argv, home);
}

/// A copy of the built installer at <prefix>/bin/zeph-installer, with no saver
/// bundle beside it; returns the copy's path.
inline std::string installerCopy(const fs::path& prefix) {
  fs::create_directories(prefix / "bin");
  fs::copy_file(ZEPH_INSTALLER_PATH, prefix / "bin/zeph-installer", fs::copy_options::overwrite_existing);
  return (prefix / "bin/zeph-installer").string();
}

/// Puts a folder bundle at <prefix>/<relative> holding one file named `marker`.
inline void bundleWithMarker(const fs::path& prefix, const std::string& relative, const std::string& marker) {
  writeBytes(prefix / relative / "Contents" / marker, {'m'});
}

inline std::string resultLine(const fs::path& home, std::int64_t count) {
  return "installed " + saverFolder(home).string() + "; " + std::to_string(count) +
         " screensaver slots set to zeph\n";
}

}  // namespace zeph::testing

#endif  // ZEPH_TESTS_MAIN_INSTALLER_HARNESS_H_
