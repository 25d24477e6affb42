#ifndef ZEPH_APP_COMMAND_LINE_H_
#define ZEPH_APP_COMMAND_LINE_H_

#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zeph {

/// The command-line grammar both programs share: options from a table, a
/// value after those that take one, and a refusal of anything else that looks
/// like an option, so a typo never runs as something else. Each program keeps
/// its options in one table of KnownOption and adds its own rules on top.

/// One option a program takes.
struct KnownOption {
  std::string_view name;       // as typed: "--user"
  std::string_view valueName;  // "NAME" when the next argument is its value; empty when it takes none
  bool selectsRun = false;     // one of the program's run modes, of which only one may be given
};

/// A command line the program refuses; what() is the text of the error line
/// printed before the usage. The program exits with kUsageStatus.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr int kUsageStatus = 2;

/// An option as given, with its value when it takes one.
struct GivenOption {
  const KnownOption* option = nullptr;
  std::string value;
};

/// What a command line holds, in order.
struct ParsedArguments {
  std::vector<GivenOption> options;
  std::vector<std::string> positional;  // the arguments that do not begin with "-"
};

/// Splits `args` (without the program's own path) by `table`. Throws
/// UsageError for an argument that begins with "-" and is no option of the
/// table (naming the nearest one when it is close), for a value that is
/// missing (the end, an empty argument or another option where it should
/// be), and for an option with a value given twice. "-psn_…", the process
/// serial number older launchers add, is skipped.
ParsedArguments parseArguments(std::span<const std::string> args, std::span<const KnownOption> table);

/// The option of `table` closest to `typed` by edit distance (letter case,
/// a missing, extra or changed character and two swapped neighbours each
/// count once), when it is close enough to be what was meant; else empty.
std::string_view nearestOption(std::string_view typed, std::span<const KnownOption> table);

/// "unknown option '--uninstal' (did you mean '--uninstall'?)", or without
/// the question when no entry of `table` is close; `kind` names what was
/// looked for ("option", "command").
std::string unknownOptionMessage(std::string_view typed, std::span<const KnownOption> table,
                                 std::string_view kind = "option");

/// The names of the options of `table` that select a run, joined as
/// "--apply, --uninstall or --refresh" (`last` is "or" or "and").
std::string runModeNames(std::span<const KnownOption> table, std::string_view last);

/// Writes "error: <message>" and then `usage` to standard error; returns kUsageStatus.
int reportUsageError(const std::string& message, const char* usage);

}  // namespace zeph

#endif  // ZEPH_APP_COMMAND_LINE_H_
