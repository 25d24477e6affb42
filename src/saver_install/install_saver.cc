#include "saver_install/install_saver.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "base/installer_error.h"
#include "base/process_values.h"
#include "platform/bundle_resource.h"
#include "platform/child_process.h"
#include "platform/file_calls.h"
#include "platform/files.h"
#include "saver_install/copy_tree.h"

#ifndef ZEPH_DEFAULTS_PROGRAM
#define ZEPH_DEFAULTS_PROGRAM "/usr/bin/defaults"
#endif

namespace zeph {
namespace {

constexpr const char* kMissingSaver =
    "The screensaver is missing from this installer. Please download zeph again from zeph.app.";

// Hidden work names beside the bundle; none ends in ".saver", which System
// Settings would list.
constexpr const char* kWorkPrefix = ".zeph.saver.";

std::string workPath(const char* role) {
  return screenSaversFolder() + "/" + kWorkPrefix + role + "-" + std::to_string(::getpid());
}

// Best effort: what cannot go now goes on the next run.
void removeQuietly(const std::string& path) {
  try {
    removeTree(path);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "warning: couldn't remove %s: %s\n", path.c_str(), e.what());
  }
}

// The pid of a work name "<prefix><role>-<pid>", or 0 when `name` is not one.
long workPid(const std::string& name, const std::string& role) {
  const std::string start = kWorkPrefix + role + "-";
  if (name.rfind(start, 0) != 0 || name.size() == start.size()) return 0;
  if (name.find_first_not_of("0123456789", start.size()) != std::string::npos) return 0;
  return std::strtol(name.c_str() + start.size(), nullptr, 10);
}

// Copies and swaps left behind by runs that were stopped half-way.
void removeLeftovers() {
  std::vector<std::string> names;
  try {
    names = folderEntries(screenSaversFolder());
  } catch (const std::exception&) {
    return;
  }
  for (const std::string& name : names) {
    if (name.rfind(kWorkPrefix, 0) == 0) removeQuietly(screenSaversFolder() + "/" + name);
  }
}

}  // namespace

std::string screenSaversFolder() { return folderOf(saverDest); }

std::optional<std::string> interruptedSaverCopy() {
  struct stat item {};
  if (::lstat(saverDest.c_str(), &item) == 0 || errno != ENOENT) return std::nullopt;
  std::vector<std::string> names;
  try {
    names = folderEntries(screenSaversFolder());
  } catch (const std::exception&) {
    return std::nullopt;
  }
  std::sort(names.begin(), names.end());
  // A swap of two renames moves the installed bundle aside to ".old-<pid>"
  // only once ".new-<pid>" is copied and flushed, file by file and folder by
  // folder: where both are there, the new copy is whole. An ".old-<pid>"
  // alone is a bundle whose swap failed and could not be put back.
  std::optional<std::string> old;
  for (const std::string& name : names) {
    long pid = workPid(name, "old");
    if (pid == 0) continue;
    const std::string fresh = kWorkPrefix + std::string("new-") + std::to_string(pid);
    if (std::binary_search(names.begin(), names.end(), fresh)) return screenSaversFolder() + "/" + fresh;
    if (!old) old = screenSaversFolder() + "/" + name;
  }
  return old;
}

void restoreInterruptedSaver() {
  std::optional<std::string> copy = interruptedSaverCopy();
  if (!copy) return;
  if (file_calls::renameNoReplace(copy->c_str(), saverDest.c_str()) != 0) {
    if (errno != ENOTSUP || file_calls::rename(copy->c_str(), saverDest.c_str()) != 0) {
      throw std::system_error(errno, std::generic_category(), "rename(" + *copy + ")");
    }
  }
  syncFolder(screenSaversFolder());
}

std::string carriedSaver() {
  std::optional<std::string> source = bundledSaverPath();
  if (!source) throw InstallerError(1, kMissingSaver);
  return *source;
}

void installSaver() {
  const std::string source = carriedSaver();
  createFolders(screenSaversFolder());
  removeLeftovers();

  const std::string fresh = workPath("new");
  try {
    copyTree(source, fresh);
  } catch (...) {
    removeQuietly(fresh);
    throw;
  }
  std::optional<std::string> old;
  try {
    old = swapIntoPlace(fresh, saverDest, workPath("old"));
  } catch (...) {
    removeQuietly(fresh);
    throw;
  }
  try {
    syncFolder(screenSaversFolder());
  } catch (...) {
    if (old) removeQuietly(*old);
    throw;
  }
  if (old) removeQuietly(*old);
}

bool removeSaver() {
  removeLeftovers();
  struct stat item {};
  if (::lstat(saverDest.c_str(), &item) != 0) {
    if (errno == ENOENT) return false;
    throw std::system_error(errno, std::generic_category(), "lstat(" + saverDest + ")");
  }
  // Out of System Settings' list in one step; a removal stopped half-way then
  // leaves only a hidden work folder, which the next run clears. Not named
  // "old": that is the swap's, which the next run puts back.
  const std::string aside = workPath("gone");
  if (file_calls::rename(saverDest.c_str(), aside.c_str()) != 0) {
    throw std::system_error(errno, std::generic_category(), "rename(" + saverDest + ")");
  }
  syncFolder(screenSaversFolder());
  removeQuietly(aside);
  return true;
}

bool saverInstalled() {
  struct stat item {};
  return ::stat(saverDest.c_str(), &item) == 0 && S_ISDIR(item.st_mode);
}

bool selectLegacyModule() {
  const std::vector<std::string> args{"-currentHost", "write", "com.apple.screensaver",
                                      "moduleDict",   "-dict", "moduleName",
                                      "zeph",         "path",  saverDest,
                                      "type",         "0"};
  // Where a store is kept its rewrite selects the saver anyway; without one
  // this is the only selection there is.
  return run(ZEPH_DEFAULTS_PROGRAM, args) == 0;
}

}  // namespace zeph
