#ifndef ZEPH_PLATFORM_ERROR_LINE_H_
#define ZEPH_PLATFORM_ERROR_LINE_H_

#include <string>

namespace zeph {

/// Writes "error: " + message + "\n" to standard error in one write(2), so a
/// child's output cannot split the line; retried when a signal interrupts it.
/// Returns false when the line could not be written.
bool writeErrorLine(const std::string& message);

}  // namespace zeph

#endif  // ZEPH_PLATFORM_ERROR_LINE_H_
