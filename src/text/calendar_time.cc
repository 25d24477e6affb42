#include "text/calendar_time.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace zeph {
namespace {

// Days from 1970-01-01 to the given civil date (H. Hinnant's algorithm,
// exact for every 64-bit year in range here).
std::int64_t daysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  std::int64_t yoe = y - era * 400;
  std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

CalendarTime civilFromDays(std::int64_t z) {
  z += 719468;
  std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  std::int64_t doe = z - era * 146097;
  std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  std::int64_t mp = (5 * doy + 2) / 153;
  CalendarTime t;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = yoe + era * 400 + (t.month <= 2);
  return t;
}

bool isLeap(std::int64_t y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

constexpr std::int64_t kDaysFrom1970To2001 = 11323;
constexpr int kDaysBeforeMonth[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

}  // namespace

double secondsFromCalendar(const CalendarTime& t) {
  std::int64_t days = daysFromCivil(t.year, 1, 1) - kDaysFrom1970To2001;
  if (t.month >= 1 && t.month <= 13) {
    days += kDaysBeforeMonth[t.month - 1] + (t.month > 2 && isLeap(t.year) ? 1 : 0);
  }
  days += t.day - 1;
  // Same order of operations as the platform, so large values round alike.
  double at = 86400.0 * static_cast<double>(days);
  at += 3600.0 * t.hour + 60.0 * t.minute + t.second;
  return at;
}

std::optional<CalendarTime> calendarFromSeconds(double seconds) {
  // 2^60 s is far beyond any 32-bit year, and keeps the day count exact.
  if (!std::isfinite(seconds) || std::fabs(seconds) > 1.15e18) return std::nullopt;
  auto whole = static_cast<std::int64_t>(std::floor(seconds));
  std::int64_t days = whole / 86400;
  std::int64_t rest = whole % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  CalendarTime t = civilFromDays(days + kDaysFrom1970To2001);
  if (t.year > kMaxCalendarYear || t.year < -kMaxCalendarYear) return std::nullopt;
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  return t;
}

std::string formatCalendarTime(const CalendarTime& t) {
  char buf[48];
  int n = std::snprintf(buf, sizeof buf, "%04lld-%02d-%02dT%02d:%02d:%02dZ", static_cast<long long>(t.year),
                        t.month, t.day, t.hour, t.minute, t.second);
  return std::string(buf, static_cast<std::size_t>(n));
}

std::optional<std::string> formatIsoTimestamp(double secondsSince2001, std::int64_t minYear,
                                              std::int64_t maxYear) {
  std::optional<CalendarTime> t = calendarFromSeconds(secondsSince2001);
  if (!t || t->year < minYear || t->year > maxYear) return std::nullopt;
  return formatCalendarTime(*t);
}

double secondsSince2001Now() {
  std::chrono::duration<double> sinceUnix = std::chrono::system_clock::now().time_since_epoch();
  return sinceUnix.count() - kSecondsFrom1970To2001;
}

}  // namespace zeph
