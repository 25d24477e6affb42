#include "app/installer_command.h"

#include <vector>

namespace zeph {
namespace {

// A new option is one line here (and its handling where it is used).
constexpr KnownOption kOptions[] = {
    {"--apply", "", true},     {"--uninstall", "", true}, {"--refresh-bundle", "", true},
    {"--user", "NAME", false}, {"--help", "", false},     {"-h", "", false},
    {"--version", "", false},
};

const KnownOption* runModeNamed(std::string_view name) {
  for (const KnownOption& option : kOptions) {
    if (option.selectsRun && option.name == name) return &option;
  }
  return nullptr;
}

}  // namespace

std::span<const KnownOption> installerOptions() { return kOptions; }

InstallerCommand parseInstallerCommand(int argc, const char* const* argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const ParsedArguments parsed = parseArguments(args, kOptions);
  InstallerCommand command;
  auto chooseMode = [&command](std::string_view mode) {
    if (!command.mode.empty() && command.mode != mode) {
      throw UsageError("use only one of " + runModeNames(kOptions, "and"));
    }
    command.mode = mode;
  };
  if (argc > 0) {
    if (const KnownOption* mode = runModeNamed(argv[0])) chooseMode(mode->name);
  }
  for (const GivenOption& given : parsed.options) {
    if (given.option->selectsRun) chooseMode(given.option->name);
    if (given.option->name == "--user") command.user = given.value;
  }
  if (command.user && command.mode.empty()) {
    throw UsageError("--user works only with " + runModeNames(kOptions, "or"));
  }
  return command;
}

}  // namespace zeph
