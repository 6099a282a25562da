#pragma once
// The wall clock as calvora-ctl stamps its lines and events: the local time with its
// milliseconds and the zone's offset from UTC, the same way on every system (the C library's
// %z is no offset everywhere).
#include <chrono>
#include <ctime>
#include <string>

namespace calvora::ctl {

struct LocalTime {
  std::tm local{};
  int milliseconds = 0;
  int offsetMinutes = 0;  // east of UTC
};

LocalTime LocalTimeAt(std::chrono::system_clock::time_point instant);
LocalTime LocalTimeNow();

// One reading of the clock, written each way calvora-ctl writes a time, so that everything
// said of one event (the printed line, the log, the page, the command's environment) carries
// the same instant.
struct Stamp {
  std::string date;   // "2026-12-07"
  std::string clock;  // "14:03:07.250", for the text lines
  std::string iso;    // "2026-12-07T14:03:07.250+01:00", ISO 8601 with the zone's offset
};

Stamp StampOf(const LocalTime& time);
Stamp StampNow();

// How far a local time is ahead of the UTC instant it stands for, in minutes.
int OffsetMinutes(const std::tm& local, std::time_t utc);

// The offset as ISO 8601 writes it: "+01:00", "-03:30".
std::string OffsetText(int minutes);

}  // namespace calvora::ctl
