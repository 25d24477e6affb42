#ifndef ZEPH_APP_INSTALLER_COMMAND_H_
#define ZEPH_APP_INSTALLER_COMMAND_H_

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "app/command_line.h"

namespace zeph {

/// What zeph-installer was asked to do. Arguments that do not begin with "-"
/// are ignored: management tools pass their own to the scripts that start it.

/// Every option zeph-installer takes, in the order the usage lists them.
std::span<const KnownOption> installerOptions();

/// The run asked for and the user it is for.
struct InstallerCommand {
  std::string_view mode;            // the option that selects the run ("--apply"); empty: the interactive run
  std::optional<std::string> user;  // --user NAME
};

/// The command in `argv` (argv[0], the program's own path, included: a
/// program named exactly as a mode runs that mode). Throws UsageError for an
/// unknown option, a missing value, two modes, or --user without a mode.
InstallerCommand parseInstallerCommand(int argc, const char* const* argv);

}  // namespace zeph

#endif  // ZEPH_APP_INSTALLER_COMMAND_H_
