// zeph-store: an administrator's look at property lists and wallpaper stores.
//   zeph-store print FILE                   any property list, written as XML in the platform's layout
//   zeph-store show [--json] [FILE|WHOSE]   the slots of a wallpaper store (default: the current user's,
//                                           Index2.plist too where there is one)
//   zeph-store status [WHOSE]               one line; exit 0 when zeph is on every slot, 3 when not or
//                                           when there is no store, 1 on errors
//   zeph-store backups [WHOSE]              the store backups, oldest first
//   zeph-store --help | --version
// WHOSE is --user NAME (that user's home from the user database) or --home DIR,
// so that management tools running as root can ask about any user. A wrong
// command line says what is wrong, then the usage, and exits 2.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "app/command_line.h"
#include "base/process_values.h"
#include "platform/error_line.h"
#include "platform/files.h"
#include "platform/home.h"
#include "platform/system_version.h"
#include "plist/format.h"
#include "saver_install/install_saver.h"
#include "saver_install/legacy_selection.h"
#include "wallpaper_store/idle_entry.h"
#include "wallpaper_store/store_backups.h"
#include "wallpaper_store/store_document.h"
#include "wallpaper_store/store_report.h"
#include "wallpaper_store/store_slots.h"

namespace {

constexpr int kNotCompliant = 3;

constexpr const char* kUsage =
    "usage: zeph-store print FILE\n"
    "       zeph-store show [--json] [FILE | --user NAME | --home DIR]\n"
    "       zeph-store status [--user NAME | --home DIR]\n"
    "       zeph-store backups [--user NAME | --home DIR]\n"
    "       zeph-store --help | --version\n";

constexpr const char* kHelp =
    "\n"
    "Looks at property lists and wallpaper stores; changes nothing.\n"
    "\n"
    "  print FILE     writes any property list (binary, XML or old-style text) as XML\n"
    "  show [FILE]    lists the slots of a wallpaper store, each record's type and\n"
    "                 what it shows as screen saver (default: your own store, and\n"
    "                 Index2.plist beside it); --json as one JSON object\n"
    "  status         one line, \"zeph on N of M screensaver slots\" (Index2.plist's follow);\n"
    "                on macOS 13, which keeps no store, whether the screen saver\n"
    "                selection names zeph\n"
    "  backups        the backups of both stores, oldest first, and how many slots each sets\n"
    "  --user NAME    the store of the user NAME (from the user database)\n"
    "  --home DIR     the store of the home folder DIR\n"
    "\n"
    "Exit status: 0 on success (for status: zeph on every slot and the saver\n"
    "installed), 1 when a file or home folder cannot be read, 2 for a wrong\n"
    "command, 3 when status finds zeph missing somewhere, or status or show\n"
    "(without --json) finds no store.\n";

int usage() {
  std::fputs(kUsage, stderr);
  return zeph::kUsageStatus;
}

// Every option; which command takes which is checked after the split.
constexpr zeph::KnownOption kOptions[] = {
    {"--json", "", false}, {"--user", "NAME", false}, {"--home", "DIR", false},
    {"--help", "", false}, {"-h", "", false},         {"--version", "", false},
};

constexpr zeph::KnownOption kCommands[] = {
    {"print", "", false}, {"show", "", false}, {"status", "", false}, {"backups", "", false}};

int writeOut(const void* bytes, std::size_t size) {
  return std::fwrite(bytes, 1, size, stdout) == size && std::fflush(stdout) == 0 ? 0 : 1;
}
int writeOut(const std::string& text) { return writeOut(text.data(), text.size()); }

// A command and what follows it: whose store, a file, --json.
struct Options {
  std::string command;
  std::optional<std::string> user;
  std::optional<std::string> home;
  std::optional<std::string> file;
  bool json = false;
};

// Options may come before or after the command. Throws zeph::UsageError
// naming what is wrong.
Options parseOptions(const std::vector<std::string>& args) {
  const zeph::ParsedArguments parsed = zeph::parseArguments(args, kOptions);
  if (parsed.positional.empty()) throw zeph::UsageError("no command: print, show, status or backups");
  Options options;
  options.command = parsed.positional[0];
  bool known = false;
  for (const zeph::KnownOption& command : kCommands) known = known || command.name == options.command;
  if (!known) throw zeph::UsageError(zeph::unknownOptionMessage(options.command, kCommands, "command"));
  const bool isPrint = options.command == "print";
  const bool takesFile = isPrint || options.command == "show";
  for (std::size_t i = 1; i < parsed.positional.size(); ++i) {
    if (!takesFile || options.file)
      throw zeph::UsageError("unexpected argument '" + parsed.positional[i] + "'");
    options.file = parsed.positional[i];
  }
  for (const zeph::GivenOption& given : parsed.options) {
    const std::string_view name = given.option->name;
    if (name == "--json") {
      if (options.command != "show") throw zeph::UsageError("--json works only with show");
      options.json = true;
    } else if (isPrint) {
      throw zeph::UsageError("print takes only a FILE, not " + std::string(name));
    } else {
      (name == "--user" ? options.user : options.home) = given.value;
    }
  }
  if (isPrint && !options.file) throw zeph::UsageError("print needs a FILE");
  if ((options.user ? 1 : 0) + (options.home ? 1 : 0) + (options.file ? 1 : 0) > 1) {
    throw zeph::UsageError(takesFile ? "use only one of FILE, --user and --home"
                                     : "use only one of --user and --home");
  }
  return options;
}

// Whether a folder is at `home`; a mistyped --home must not read as a user
// without a store.
void requireHomeFolder(const std::string& home) {
  const std::string path = home.empty() ? "/" : home;
  struct stat item {};
  if (::stat(path.c_str(), &item) == 0) {
    if (S_ISDIR(item.st_mode)) return;
  } else if (errno != ENOENT && errno != ENOTDIR) {
    throw std::system_error(errno, std::generic_category(), "stat(" + path + ")");
  }
  throw std::runtime_error("no home folder at " + path);
}

// The home the command is about; the process values then point into it.
void useHome(const Options& options) {
  std::string home;
  if (options.user) {
    std::optional<std::string> found = zeph::userHome(*options.user);
    if (!found)
      throw std::runtime_error("no user \"" + *options.user + "\" with a home folder in the user database");
    home = *found;
  } else if (options.home) {
    if (options.home->empty() || (*options.home)[0] != '/') {
      throw std::runtime_error("--home needs a full path (starting with \"/\"), not \"" + *options.home +
                               "\"");
    }
    home = *options.home;
    while (!home.empty() && home.back() == '/') home.pop_back();
  } else {
    std::optional<std::string> found = zeph::currentUserHome();
    if (!found) throw std::runtime_error("cannot tell the current user's home folder");
    home = *found;
  }
  requireHomeFolder(home);
  zeph::setProcessValues(home, true);
}

int writeText(const std::string& text) { return writeOut(text.data(), text.size()); }

// What SIGBUS says while a mapped file is parsed: the file was cut short
// under the mapping. Set before the handler is.
std::string mappedFileMessage;

extern "C" void onMappedFileCut(int) {
  if (::write(STDERR_FILENO, mappedFileMessage.data(), mappedFileMessage.size()) < 0) {
    // nothing more to say
  }
  ::_exit(1);
}

// The parser reads every page: one call to map them all costs far less than a
// fault per page, where the system offers it.
#ifdef MAP_POPULATE
constexpr int kMapAllAtOnce = MAP_POPULATE;
#else
constexpr int kMapAllAtOnce = 0;
#endif

// The regular file at `path` mapped into memory, or nothing (an empty span)
// for anything readFile() must look at: what is not a regular file, an empty
// file, one over its limit, one that cannot be opened or mapped.
std::span<const std::uint8_t> mapRegularFile(const std::string& path) {
  struct stat before {};
  if (::stat(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode)) return {};
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return {};
  struct stat st {};
  void* at = MAP_FAILED;
  if (::fstat(fd, &st) == 0 && st.st_dev == before.st_dev && st.st_ino == before.st_ino && st.st_size > 0 &&
      static_cast<std::uint64_t>(st.st_size) <= zeph::kMaxReadBytes) {
    at = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE | kMapAllAtOnce, fd, 0);
  }
  ::close(fd);
  if (at == MAP_FAILED) return {};
  return {static_cast<const std::uint8_t*>(at), static_cast<std::size_t>(st.st_size)};
}

// The property list at `path`, parsed where the file's bytes lie in memory
// (the parser copies what it keeps); read as other commands read it when it
// cannot be mapped, which also reports why it cannot be read.
zeph::plist::Value parseFile(const std::string& path) {
  const std::span<const std::uint8_t> mapped = mapRegularFile(path);
  if (mapped.empty()) return zeph::parseStore(zeph::readFile(path), path);
  mappedFileMessage = "error: " + path + " was cut short while it was read\n";
  struct sigaction cut {};
  struct sigaction before {};
  cut.sa_handler = onMappedFileCut;
  ::sigaction(SIGBUS, &cut, &before);
  auto unmap = [&] {
    ::munmap(const_cast<std::uint8_t*>(mapped.data()), mapped.size());
    ::sigaction(SIGBUS, &before, nullptr);
  };
  try {
    zeph::plist::Value document = zeph::parseStore(mapped, path);
    unmap();
    return document;
  } catch (...) {
    unmap();
    throw;
  }
}

// Kept until the process ends, which gives all its memory back at once:
// freeing a large document object by object would take a while.
const zeph::plist::Value& keptUntilExit(zeph::plist::Value document) {
  static auto* const kept = new zeph::plist::Value();
  *kept = std::move(document);
  return *kept;
}

// Streamed: a large store's text is never held whole.
int print(const std::string& path) {
  const zeph::plist::Value& document = keptUntilExit(parseFile(path));
  auto failed = [] { return std::system_error(errno, std::generic_category(), "write to standard output"); };
  zeph::plist::write(document, zeph::plist::Format::Xml, [&failed](std::span<const std::uint8_t> piece) {
    if (std::fwrite(piece.data(), 1, piece.size(), stdout) != piece.size()) throw failed();
  });
  if (std::fflush(stdout) != 0) throw failed();
  return 0;
}

zeph::plist::Value loadRoot(const std::string& path) {
  zeph::plist::Value document = zeph::parseStore(zeph::loadStore(path), path);
  if (!document.asDictionary()) throw std::runtime_error(path + ": the top level is not a dictionary");
  return document;
}

// The stores to look at: FILE, and Index2.plist beside it when FILE is an
// Index.plist; else the home's Index.plist and Index2.plist, those present.
// macOS 26 keeps both, and which one its agent reads is not known.
std::vector<zeph::ReportedStore> storesToShow(const Options& options) {
  std::vector<std::string> paths;
  if (options.file) {
    paths.push_back(*options.file);
    const std::string name = zeph::nameOf(*options.file);
    if (name == "Index.plist") {
      const std::string second = options.file->substr(0, options.file->size() - name.size()) + "Index2.plist";
      if (zeph::storeExists(second)) paths.push_back(second);
    }
  } else {
    useHome(options);
    for (const std::string* path : {&zeph::storePath, &zeph::storePath2}) {
      if (zeph::storeExists(*path)) paths.push_back(*path);
    }
  }
  std::vector<zeph::ReportedStore> stores;
  for (const std::string& path : paths) stores.push_back({path, loadRoot(path)});
  return stores;
}

// A home without a store answers as status does; a JSON consumer still gets
// its object, with no stores and no slots.
int show(const Options& options) {
  std::vector<zeph::ReportedStore> stores = storesToShow(options);
  if (options.json) return writeOut(zeph::storeReportJson(stores));
  if (stores.empty()) {
    if (writeOut("no wallpaper store at " + zeph::storePath + "\n") != 0) return 1;
    return kNotCompliant;
  }
  if (stores.size() == 1) return writeOut(zeph::storeReport(*stores[0].document.asDictionary()));
  std::string report;
  for (const zeph::ReportedStore& store : stores) {
    report += store.path + ":\n" + zeph::storeReport(*store.document.asDictionary());
  }
  return writeOut(report);
}

// Slots whose type reads "Idle", and those of them that select the installed saver.
struct SaverSlots {
  std::int64_t zeph = 0;
  std::int64_t total = 0;
};

SaverSlots saverSlotsOf(const zeph::plist::Dictionary& root) {
  SaverSlots counted;
  zeph::forEachSlot(root, [&counted](const zeph::Slot& slot) {
    if (!slot.readsIdle()) return;  // left alone or desktop only: nothing to set there
    ++counted.total;
    if (zeph::slotSelectsSaver(slot)) ++counted.zeph;
  });
  return counted;
}

std::string slotsPhrase(const SaverSlots& counted) {
  return "zeph on " + std::to_string(counted.zeph) + " of " + std::to_string(counted.total) +
         " screensaver slots";
}

// A compliance check: 0 only when every slot of each store there is selects
// the installed saver and the saver is there to be shown. The line leads with
// Index.plist's count; the second store follows when there is one. An
// Index.plist that cannot be read ends it with the error alone; an
// Index2.plist that cannot is "unreadable" in the line, named on standard
// error, and the status is 1.
int status(const Options& options) {
  useHome(options);
  if (!zeph::systemKeepsWallpaperStore()) {
    const zeph::LegacyStatus legacy = zeph::legacyStatus();
    if (writeOut(legacy.line + "\n") != 0) return 1;
    return legacy.compliant ? 0 : kNotCompliant;
  }
  const bool hasFirst = zeph::storeExists(zeph::storePath);
  std::string secondProblem;
  bool hasSecond = false;
  try {
    hasSecond = zeph::storeExists(zeph::storePath2);
  } catch (const std::exception& e) {
    secondProblem = zeph::problemWith(zeph::storePath2, e);
  }
  if (!hasFirst && !hasSecond && secondProblem.empty()) {
    if (writeOut(std::string("no wallpaper store\n")) != 0) return 1;
    return kNotCompliant;
  }
  const bool installed = zeph::saverInstalled();
  bool compliant = installed;
  auto phraseFor = [&compliant](const std::string& path) {
    const SaverSlots counted = saverSlotsOf(*loadRoot(path).asDictionary());
    compliant = compliant && counted.total > 0 && counted.zeph == counted.total;
    return slotsPhrase(counted);
  };
  std::string line = hasFirst ? phraseFor(zeph::storePath) : "no Index.plist";
  if (hasSecond) {
    try {
      line += "; Index2.plist: " + phraseFor(zeph::storePath2);
    } catch (const std::exception& e) {
      secondProblem = zeph::problemWith(zeph::storePath2, e);
    }
  }
  if (!secondProblem.empty()) line += "; Index2.plist: unreadable";
  if (!installed) {
    line += "; the saver is missing from " + zeph::saverDest;
    if (std::optional<std::string> copy = zeph::interruptedSaverCopy()) {
      line += " (an interrupted run left a copy at " + *copy + ", which the next run puts back)";
    }
  }
  if (writeOut(line + "\n") != 0) return 1;
  if (!secondProblem.empty()) {
    zeph::writeErrorLine(secondProblem);
    return 1;
  }
  return compliant ? 0 : kNotCompliant;
}

// "damaged" for a backup that cannot be read or parsed, else its zeph slots.
std::string backupLine(const zeph::StoreBackup& backup) {
  std::string line = backup.path + "\t" + backup.time + "\t";
  std::vector<std::uint8_t> bytes;
  try {
    bytes = zeph::readFile(backup.path);
  } catch (const std::exception&) {
    return line + "-\tdamaged\n";
  }
  line += std::to_string(bytes.size()) + "\t";
  try {
    zeph::plist::Value document = zeph::parseStore(bytes, backup.path);
    if (!document.asDictionary()) return line + "damaged\n";
    return line + std::to_string(saverSlotsOf(*document.asDictionary()).zeph) + "\n";
  } catch (const std::exception&) {
    return line + "damaged\n";
  }
}

// Index.plist's series, then Index2.plist's, each oldest first. None is no
// error, but says where it looked.
int backups(const Options& options) {
  useHome(options);
  std::string text;
  for (const zeph::StoreFile& store : {zeph::firstStore(), zeph::secondStore()}) {
    for (const zeph::StoreBackup& backup : zeph::storeBackups(store)) text += backupLine(backup);
  }
  if (text.empty()) std::fprintf(stderr, "no backups in %s\n", zeph::backupFolder().c_str());
  return writeOut(text);
}

// What a command does, for the one error that cannot say more.
const char* taskOf(const std::string& command) {
  if (command == "print") return "print the property list";
  if (command == "show") return "show the slots";
  if (command == "status") return "count the slots";
  return "list the backups";
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // As for zeph-installer: these two win over everything else.
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") return writeText(std::string(kUsage) + kHelp);
    if (arg == "--version") return writeText(std::string("zeph-store ") + ZEPH_VERSION + "\n");
  }
  if (args.empty()) return usage();
  try {
    const Options options = parseOptions(args);
    if (options.command == "print") return print(*options.file);
    if (options.command == "show") return show(options);
    return options.command == "status" ? status(options) : backups(options);
  } catch (const zeph::UsageError& e) {
    return zeph::reportUsageError(e.what(), kUsage);
  } catch (const std::bad_alloc&) {
    zeph::writeErrorLine(std::string("not enough memory to ") + taskOf(args[0]));
    return 1;
  } catch (const std::exception& e) {
    zeph::writeErrorLine(e.what());
    return 1;
  }
}
