#include "LocalTime.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace calvora::ctl {

namespace {

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

}  // namespace

LocalTime LocalTimeNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  LocalTime time;
#ifdef _WIN32
  localtime_s(&time.local, &seconds);
#else
  localtime_r(&seconds, &time.local);
#endif
  const auto sinceSecond = now - std::chrono::system_clock::from_time_t(seconds);
  time.milliseconds = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(sinceSecond).count() % 1000);
  time.offsetMinutes = OffsetMinutes(time.local, seconds);
  return time;
}

int OffsetMinutes(const std::tm& local, std::time_t utc) {
  const int64_t localSeconds =
      DaysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) * 86400 +
      local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  return static_cast<int>((localSeconds - static_cast<int64_t>(utc)) / 60);
}

std::string OffsetText(int minutes) {
  char text[16];
  std::snprintf(text, sizeof text, "%c%02d:%02d", minutes < 0 ? '-' : '+', std::abs(minutes) / 60,
                std::abs(minutes) % 60);
  return text;
}

}  // namespace calvora::ctl
