// The text of a status that explains a wait.

#include "dialog/wait_status.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace zeph {
namespace {

using std::chrono::milliseconds;

TEST(WaitStatusText, CountsWholeSecondsFromTheSecondOnAndEndsWithTheHint) {
  const struct {
    milliseconds waited;
    const char* hint;
    const char* text;
  } cases[] = {
      {milliseconds(0), "Esc to skip", "Looking up \u201COslo\u201D\u2026 \u2014 Esc to skip"},
      {milliseconds(1999), "Esc to skip", "Looking up \u201COslo\u201D\u2026 \u2014 Esc to skip"},
      {milliseconds(2000), "Esc to skip", "Looking up \u201COslo\u201D\u2026 2 s \u2014 Esc to skip"},
      {milliseconds(8999), "", "Looking up \u201COslo\u201D\u2026 8 s"},
      {milliseconds(125000), "", "Looking up \u201COslo\u201D\u2026 125 s"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(waitStatusText("Looking up \u201COslo\u201D\u2026", c.waited, c.hint), c.text)
        << c.waited.count();
  }
}

}  // namespace
}  // namespace zeph
