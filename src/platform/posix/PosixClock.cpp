#include "platform/posix/PosixClock.h"

#include <cerrno>
#include <ctime>

namespace calvora::platform::posix {

namespace {
// Days from 1899-12-30 (the day count's origin) to 1970-01-01.
constexpr double kUnixEpochDays = 25569.0;
constexpr double kMsPerDay = 86400000.0;
}  // namespace

uint32_t PosixClock::TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms =
      static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

double PosixClock::LocalNowDays() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  // The local time is the UTC time shifted by the zone's offset at that moment.
  const int64_t localMs =
      (static_cast<int64_t>(ts.tv_sec) + local.tm_gmtoff) * 1000 + ts.tv_nsec / 1000000;
  return kUnixEpochDays + static_cast<double>(localMs) / kMsPerDay;
}

void PosixClock::Sleep(int32_t ms) {
  if (ms <= 0)
    return;
  timespec left{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace calvora::platform::posix
