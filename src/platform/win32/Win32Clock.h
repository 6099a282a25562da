#pragma once
#include "platform/Clock.h"

namespace calvora::platform::win32 {

// GetTickCount, the local time of GetLocalTime, Sleep.
class Win32Clock : public Clock {
 public:
  uint32_t TickCount() override;
  double LocalNowDays() override;
  void Sleep(int32_t ms) override;
};

}  // namespace calvora::platform::win32
