#ifndef ZEPH_APP_INTERACTIVE_RUN_INTERNAL_H_
#define ZEPH_APP_INTERACTIVE_RUN_INTERNAL_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace zeph {

/// The steps an interactive run takes between its alerts; the real ones
/// unless a test replaces them.
struct InteractiveSteps {
  std::function<std::int64_t()> applyEverything;
  std::function<std::optional<std::string>()> runLocationSetup;
  std::function<void()> openScreenSaverSettings;
};

/// The real steps.
InteractiveSteps realInteractiveSteps();

/// runInteractive() over `steps`.
int runInteractive(const InteractiveSteps& steps);

}  // namespace zeph

#endif  // ZEPH_APP_INTERACTIVE_RUN_INTERNAL_H_
