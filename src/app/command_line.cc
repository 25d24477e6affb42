#include "app/command_line.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "platform/error_line.h"

namespace zeph {
namespace {

// The process serial number that older macOS launchers pass to an app.
constexpr std::string_view kSerialNumberPrefix = "-psn_";

// At most this many edits, and at most half the letters of the option's name,
// make a typo worth a suggestion: "-j" is not taken for "-h".
constexpr std::size_t kMaxSuggestedEdits = 2;

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Optimal string alignment distance, letter case ignored.
std::size_t editDistance(std::string_view a, std::string_view b) {
  const std::size_t width = b.size() + 1;
  std::vector<std::size_t> d((a.size() + 1) * width);
  auto at = [&d, width](std::size_t i, std::size_t j) -> std::size_t& { return d[i * width + j]; };
  for (std::size_t i = 0; i <= a.size(); ++i) at(i, 0) = i;
  for (std::size_t j = 0; j <= b.size(); ++j) at(0, j) = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t change = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
      at(i, j) = std::min({at(i - 1, j) + 1, at(i, j - 1) + 1, at(i - 1, j - 1) + change});
      if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) && lower(a[i - 2]) == lower(b[j - 1])) {
        at(i, j) = std::min(at(i, j), at(i - 2, j - 2) + 1);
      }
    }
  }
  return at(a.size(), b.size());
}

std::size_t lettersOf(std::string_view name) {
  return name.size() - std::min(name.find_first_not_of('-'), name.size());
}

const KnownOption* findOption(std::string_view arg, std::span<const KnownOption> table) {
  for (const KnownOption& option : table) {
    if (option.name == arg) return &option;
  }
  return nullptr;
}

}  // namespace

std::string_view nearestOption(std::string_view typed, std::span<const KnownOption> table) {
  std::string_view nearest;
  std::size_t best = kMaxSuggestedEdits + 1;
  for (const KnownOption& option : table) {
    const std::size_t distance = editDistance(typed, option.name);
    if (distance < best && distance <= lettersOf(option.name) / 2) {
      best = distance;
      nearest = option.name;
    }
  }
  return nearest;
}

std::string unknownOptionMessage(std::string_view typed, std::span<const KnownOption> table,
                                 std::string_view kind) {
  std::string message = "unknown " + std::string(kind) + " '" + std::string(typed) + "'";
  const std::string_view nearest = nearestOption(typed, table);
  if (!nearest.empty()) message += " (did you mean '" + std::string(nearest) + "'?)";
  return message;
}

ParsedArguments parseArguments(std::span<const std::string> args, std::span<const KnownOption> table) {
  ParsedArguments parsed;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.empty() || arg[0] != '-') {
      parsed.positional.push_back(arg);
      continue;
    }
    if (arg.rfind(kSerialNumberPrefix, 0) == 0) continue;
    const KnownOption* option = findOption(arg, table);
    if (option == nullptr) throw UsageError(unknownOptionMessage(arg, table));
    GivenOption given{option, {}};
    if (!option->valueName.empty()) {
      // An option where the value should be is a mistake, never a user named "--apply".
      if (i + 1 == args.size() || args[i + 1].empty() || args[i + 1][0] == '-') {
        throw UsageError(arg + " needs a value: " + arg + " " + std::string(option->valueName));
      }
      for (const GivenOption& earlier : parsed.options) {
        if (earlier.option == option) throw UsageError(arg + " can be given only once");
      }
      given.value = args[++i];
    }
    parsed.options.push_back(std::move(given));
  }
  return parsed;
}

std::string runModeNames(std::span<const KnownOption> table, std::string_view last) {
  std::vector<std::string_view> names;
  for (const KnownOption& option : table) {
    if (option.selectsRun) names.push_back(option.name);
  }
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " " + std::string(last) + " " : ", ";
    text += names[i];
  }
  return text;
}

int reportUsageError(const std::string& message, const char* usage) {
  writeErrorLine(message);
  std::fputs(usage, stderr);
  return kUsageStatus;
}

}  // namespace zeph
