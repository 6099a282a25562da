// The local time and zone offset that calvora-ctl stamps its lines and events with, worked out
// without the C library's %z (which Windows' does not give as an offset).
#include "events/LocalTime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace calvora::ctl {
namespace {

std::tm Local(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

TEST(LocalTime, OffsetIsTheLocalClockMinusUtcAcrossDaysMonthsAndYears) {
  // 2026-12-07 23:00:00 UTC is 1796684400.
  constexpr std::time_t kUtc = 1796684400;
  EXPECT_EQ(OffsetMinutes(Local(2026, 12, 7, 23, 0, 0), kUtc), 0);
  EXPECT_EQ(OffsetMinutes(Local(2026, 12, 8, 0, 30, 0), kUtc), 90);
  EXPECT_EQ(OffsetMinutes(Local(2026, 12, 7, 19, 30, 0), kUtc), -210);
  EXPECT_EQ(OffsetMinutes(Local(2026, 12, 8, 4, 45, 0), kUtc), 345);
  // New year's eve UTC is already the next year in Kiribati (+14:00).
  constexpr std::time_t kYearEnd = 1798758000;  // 2026-12-31 23:00:00 UTC
  EXPECT_EQ(OffsetMinutes(Local(2027, 1, 1, 13, 0, 0), kYearEnd), 840);
  EXPECT_EQ(OffsetMinutes(Local(2026, 12, 31, 13, 0, 0), kYearEnd), -600);
  // A leap day.
  EXPECT_EQ(OffsetMinutes(Local(2028, 2, 29, 1, 0, 0), 1835395200 /* 2028-02-29 00:00 */), 60);

  EXPECT_EQ(OffsetText(0), "+00:00");
  EXPECT_EQ(OffsetText(90), "+01:30");
  EXPECT_EQ(OffsetText(-210), "-03:30");
  EXPECT_EQ(OffsetText(-30), "-00:30");
  EXPECT_EQ(OffsetText(840), "+14:00");
}

TEST(LocalTime, NowAgreesWithTheZonesOfTheSystem) {
  for (const char* zone :
       {"UTC", "America/St_Johns", "Asia/Kathmandu", "Pacific/Kiritimati", "Pacific/Pago_Pago"}) {
    setenv("TZ", zone, 1);
    tzset();
    const LocalTime now = LocalTimeNow();
    char expected[8];
    std::strftime(expected, sizeof expected, "%z", &now.local);  // "+0545"
    const std::string text = OffsetText(now.offsetMinutes);
    EXPECT_EQ(text.substr(0, 3) + text.substr(4), expected) << zone;
    EXPECT_GE(now.milliseconds, 0);
    EXPECT_LT(now.milliseconds, 1000);
  }
  unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace calvora::ctl
