#ifndef ZEPH_FUZZ_FUZZ_CHECK_H_
#define ZEPH_FUZZ_FUZZ_CHECK_H_

/// What the fuzz targets share: a hard stop that libFuzzer records as a crash
/// with the reason, so a broken invariant is kept as a reproducer.

#include <cstdio>
#include <cstdlib>

#define ZEPH_FUZZ_CHECK(cond, what)                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      std::fprintf(stderr, "fuzz invariant broken: %s (%s)\n", (what), #cond); \
      std::abort();                                                            \
    }                                                                          \
  } while (0)

#endif  // ZEPH_FUZZ_FUZZ_CHECK_H_
