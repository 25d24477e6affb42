#ifndef ZEPH_BASE_PROCESS_LOCALE_H_
#define ZEPH_BASE_PROCESS_LOCALE_H_

namespace zeph {

/// Sets the character-type locale from the environment, falling back to
/// "C.UTF-8" where that is plain ASCII, the first time it is called; later
/// calls do nothing. setlocale() races with any thread reading the locale (a
/// lookup worker parsing its reply), so this is the process's only call
/// point, reached on the main thread before the first lookup or alert. Only
/// LC_CTYPE changes: numbers keep the POSIX rules.
void ensureProcessLocale();

}  // namespace zeph

#endif  // ZEPH_BASE_PROCESS_LOCALE_H_
