#pragma once
// The wall clock as calvora-ctl stamps its lines and events: the local time with its
// milliseconds and the zone's offset from UTC, the same way on every system (the C library's
// %z is no offset everywhere).
#include <ctime>
#include <string>

namespace calvora::ctl {

struct LocalTime {
  std::tm local{};
  int milliseconds = 0;
  int offsetMinutes = 0;  // east of UTC
};

LocalTime LocalTimeNow();

// How far a local time is ahead of the UTC instant it stands for, in minutes.
int OffsetMinutes(const std::tm& local, std::time_t utc);

// The offset as ISO 8601 writes it: "+01:00", "-03:30".
std::string OffsetText(int minutes);

}  // namespace calvora::ctl
