#include "platform/win32/Win32Clock.h"

#include <windows.h>

namespace calvora::platform::win32 {

namespace {
// File times count 100 ns steps from 1601-01-01; the day count starts at 1899-12-30.
constexpr uint64_t kStepsPerMs = 10000;
constexpr uint64_t kMsPerDay = 86400000;
constexpr uint64_t kMsFrom1601To1899 = 109205 * kMsPerDay;
}  // namespace

uint32_t Win32Clock::TickCount() {
  return GetTickCount();
}

double Win32Clock::LocalNowDays() {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  // The local calendar time read as a file time: no zone is applied, only the counting.
  FILETIME asFileTime{};
  SystemTimeToFileTime(&local, &asFileTime);
  const uint64_t steps =
      (static_cast<uint64_t>(asFileTime.dwHighDateTime) << 32) | asFileTime.dwLowDateTime;
  const int64_t ms = static_cast<int64_t>(steps / kStepsPerMs - kMsFrom1601To1899);
  return static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

void Win32Clock::Sleep(int32_t ms) {
  if (ms > 0)
    ::Sleep(static_cast<DWORD>(ms));
}

}  // namespace calvora::platform::win32
