#ifndef ZEPH_APP_FATAL_EXIT_H_
#define ZEPH_APP_FATAL_EXIT_H_

#include <string>

namespace zeph {

/// Ends the run in failure: "error: " + message on standard error when
/// headless, the failure alert otherwise; then exit status 1.
[[noreturn]] void finish(const std::string& message);

}  // namespace zeph

#endif  // ZEPH_APP_FATAL_EXIT_H_
