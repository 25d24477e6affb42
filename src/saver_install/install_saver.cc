#include "saver_install/install_saver.h"

#include <sys/stat.h>

#include <filesystem>
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
#include "saver_install/copy_tree.h"

#ifndef ZEPH_DEFAULTS_PROGRAM
#define ZEPH_DEFAULTS_PROGRAM "/usr/bin/defaults"
#endif

namespace zeph {
namespace {

ScopedLegacyModuleTool* installedTool = nullptr;  // set only by ScopedLegacyModuleTool

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
  const std::vector<std::string> args{"-currentHost", "write", "com.apple.screensaver", "moduleDict", "-dict",
                                      "moduleName",   "zeph",  "path",                  saverDest,    "type",
                                      "0"};
  if (installedTool != nullptr) {
    (*installedTool)(ZEPH_DEFAULTS_PROGRAM, args);
    return;
  }
  // The tool's status is of no interest: the store rewrite selects the saver anyway.
  run(ZEPH_DEFAULTS_PROGRAM, args);
}

ScopedLegacyModuleTool::ScopedLegacyModuleTool(Runner runner)
    : runner_(std::move(runner)), previous_(installedTool) {
  if (!runner_) throw std::invalid_argument("ScopedLegacyModuleTool needs a runner");
  installedTool = this;
}

ScopedLegacyModuleTool::~ScopedLegacyModuleTool() { installedTool = previous_; }

}  // namespace zeph
