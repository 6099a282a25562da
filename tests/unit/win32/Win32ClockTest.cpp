#include "platform/win32/Win32Clock.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>

namespace calvora::platform::win32 {
namespace {

// Days from 1899-12-30 to a calendar date, by civil arithmetic.
int64_t DaysSince1899(int year, int month, int day) {
  const int y = month <= 2 ? year - 1 : year;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yearOfEra = y - era * 400;
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const int64_t daysSince1970 = int64_t{era} * 146097 + dayOfEra - 719468;
  return daysSince1970 + 25569;
}

TEST(Win32Clock, LocalNowCountsDaysFrom1899AndTheTimeOfDayAsFraction) {
  Win32Clock clock;
  SYSTEMTIME before{};
  GetLocalTime(&before);
  const double now = clock.LocalNowDays();
  SYSTEMTIME after{};
  GetLocalTime(&after);
  if (before.wDay != after.wDay)
    GTEST_SKIP() << "midnight passed while measuring";

  EXPECT_EQ(static_cast<int64_t>(std::floor(now)),
            DaysSince1899(before.wYear, before.wMonth, before.wDay));
  const double seconds = (now - std::floor(now)) * 86400.0;
  const double expected = before.wHour * 3600.0 + before.wMinute * 60.0 + before.wSecond +
                          before.wMilliseconds / 1000.0;
  EXPECT_GE(seconds, expected - 0.001);
  EXPECT_LE(seconds, expected + 5.0);
}

TEST(Win32Clock, TickCountRisesAcrossASleep) {
  Win32Clock clock;
  const uint32_t start = clock.TickCount();
  clock.Sleep(50);
  clock.Sleep(0);
  clock.Sleep(-5);
  // A lower bound only: the tick's resolution is about 16 ms.
  EXPECT_GE(static_cast<uint32_t>(clock.TickCount() - start), 30u);
}

}  // namespace
}  // namespace calvora::platform::win32
