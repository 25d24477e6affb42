#include "saver_install/install_saver.h"

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "platform/child_process.h"
#include "base/installer_error.h"
#include "base/process_values.h"
#include "platform/bundle_resource.h"
#include "saver_install/copy_tree.h"

namespace zeph {
namespace {

constexpr const char* kMissingSaver =
    "The screensaver is missing from this installer. Please download zeph again from zeph.app.";

bool somethingAt(const std::string& path) {
  struct stat st {};
  // lstat: a dangling link is still something to remove before the copy.
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

void installSaver() {
  std::optional<std::string> source = bundledSaverPath();
  if (!source) throw InstallerError(1, kMissingSaver);

  std::string parent = std::filesystem::path(saverDest).parent_path().string();
  std::error_code ec;
  std::filesystem::create_directories(parent, ec);
  if (ec) throw std::system_error(ec, "mkdir(" + parent + ")");

  // Replaced, never merged: nothing of an earlier copy survives.
  if (somethingAt(saverDest)) removeTree(saverDest);
  copyTree(*source, saverDest);
}

void selectLegacyModule() {
  // The tool's status is of no interest: the store rewrite selects the saver anyway.
  run("/usr/bin/defaults", {"-currentHost", "write", "com.apple.screensaver", "moduleDict", "-dict", "moduleName",
                            "zeph", "path", saverDest, "type", "0"});
}

}  // namespace zeph
