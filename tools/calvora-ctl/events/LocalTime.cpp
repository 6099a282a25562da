#include "LocalTime.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace calvora::ctl {

LocalTime LocalTimeNow() {
  return LocalTimeAt(std::chrono::system_clock::now());
}

LocalTime LocalTimeAt(std::chrono::system_clock::time_point now) {
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
  using namespace std::chrono;
  // The local calendar time read as if it were UTC, less the instant it stands for.
  const sys_days day{year{local.tm_year + 1900} / (local.tm_mon + 1) / local.tm_mday};
  const sys_seconds localAsUtc =
      day + hours{local.tm_hour} + minutes{local.tm_min} + seconds{local.tm_sec};
  return static_cast<int>(duration_cast<minutes>(localAsUtc - sys_seconds{seconds{utc}}).count());
}

Stamp StampOf(const LocalTime& time) {
  char date[16];
  char clock[24];
  std::strftime(date, sizeof date, "%Y-%m-%d", &time.local);
  const std::size_t n = std::strftime(clock, sizeof clock, "%H:%M:%S", &time.local);
  std::snprintf(clock + n, sizeof clock - n, ".%03d", time.milliseconds);
  Stamp stamp{date, clock, ""};
  stamp.iso = stamp.date + "T" + stamp.clock + OffsetText(time.offsetMinutes);
  return stamp;
}

Stamp StampNow() {
  return StampOf(LocalTimeNow());
}

std::string OffsetText(int minutes) {
  char text[16];
  std::snprintf(text, sizeof text, "%c%02d:%02d", minutes < 0 ? '-' : '+', std::abs(minutes) / 60,
                std::abs(minutes) % 60);
  return text;
}

}  // namespace calvora::ctl
