#include "app/Engine.h"

namespace calvora::app {

int64_t Engine::TickCount64() {
  const uint32_t t = clock_.TickCount();
  if (t < LastTick)
    ++Wraps;
  LastTick = t;
  return static_cast<int64_t>((static_cast<uint64_t>(Wraps) << 32) + t);
}

void Engine::PauseMs(int32_t ms) {
  timers_.ProcessPendingEvents();
  clock_.Sleep(ms < 0 ? 0 : ms);
}

}  // namespace calvora::app
