#pragma once
// A signal another thread raises to have a handler run on the main thread soon after: the
// way a device thread tells the main loop that it has something for it, so that the main loop
// sleeps until then instead of looking on a timer. Raises that come before the handler runs
// are merged into one call; a raise during the handler leads to a further call.
#include <functional>

namespace calvora::platform {

class WakeSignal {
 public:
  virtual ~WakeSignal() = default;

  // Any thread; never blocks.
  virtual void Raise() = 0;

  // The handler runs on the main thread; nullptr stops the calls.
  virtual void SetHandler(std::function<void()> handler) = 0;
};

}  // namespace calvora::platform
