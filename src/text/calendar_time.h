#ifndef ZEPH_TEXT_CALENDAR_TIME_H_
#define ZEPH_TEXT_CALENDAR_TIME_H_

#include <cstdint>
#include <optional>
#include <string>

namespace zeph {

/// UTC calendar arithmetic on the platform's time scale (seconds since
/// 2001-01-01 00:00:00 UTC), in the proleptic Gregorian calendar with a year
/// 0 (so the platform's distant past, 0001-01-01 in the Julian calendar, is
/// 0000-12-30). Pure functions, usable by any unit that shows or parses dates.

/// Seconds between the Unix epoch and the platform's reference date.
inline constexpr double kSecondsFrom1970To2001 = 978307200.0;

/// Years further from zero than this are refused both ways: the platform
/// keeps the year in 32 bits.
inline constexpr std::int64_t kMaxCalendarYear = 2147483647;

struct CalendarTime {
  std::int64_t year = 2001;
  int month = 1;  // 1…12 from civilFromSeconds; anything when folding
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

/// Folds the fields into seconds since 2001 as the platform does, without
/// range checks: day 0 is the last day of the month before, hour 25 is 1 a.m.
/// the next day, month 13 is January of the next year, and a month outside
/// 1…13 counts as January. `t.year` must be within ±kMaxCalendarYear.
double secondsFromCalendar(const CalendarTime& t);

/// The calendar time of `seconds`, floored to a whole second; nullopt when
/// it is not finite or its year is beyond ±kMaxCalendarYear.
std::optional<CalendarTime> calendarFromSeconds(double seconds);

/// "YYYY-MM-DDTHH:MM:SSZ", the year with at least four digits (the platform's
/// "%04d": year −1 is "-001").
std::string formatCalendarTime(const CalendarTime& t);

/// `secondsSince2001` as "YYYY-MM-DDTHH:MM:SSZ" (floored to the second) when
/// its year lies within [minYear, maxYear]; nullopt when it does not or the
/// value is not finite. Property lists take any year the platform keeps;
/// reports to people keep to years 1 to 9999.
std::optional<std::string> formatIsoTimestamp(double secondsSince2001,
                                              std::int64_t minYear = -kMaxCalendarYear,
                                              std::int64_t maxYear = kMaxCalendarYear);

/// The system clock now, in seconds since 2001.
double secondsSince2001Now();

}  // namespace zeph

#endif  // ZEPH_TEXT_CALENDAR_TIME_H_
