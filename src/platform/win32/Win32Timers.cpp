#include "platform/win32/Win32Timers.h"

#include <windows.h>

#include <map>

namespace calvora::platform::win32 {

namespace {

// What a running system timer calls; shared so that a handler may destroy its timer.
struct Handler {
  std::function<void()> onTick;
  bool running = false;
};

// The handlers of this thread's timers by system timer id.
thread_local std::map<UINT_PTR, std::shared_ptr<Handler>> handlers;

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  const auto it = handlers.find(id);
  if (it == handlers.end())
    return;
  const std::shared_ptr<Handler> handler = it->second;
  if (handler->running)
    return;
  handler->running = true;
  handler->onTick();
  handler->running = false;
}

class Win32Timer : public Timer {
 public:
  Win32Timer(int32_t intervalMs, std::function<void()> onTick)
      : interval_(intervalMs), handler_(std::make_shared<Handler>()) {
    handler_->onTick = std::move(onTick);
  }
  ~Win32Timer() override { SetEnabled(false); }
  Win32Timer(const Win32Timer&) = delete;
  Win32Timer& operator=(const Win32Timer&) = delete;

  void SetEnabled(bool enabled) override {
    if (enabled == (id_ != 0))
      return;
    if (enabled) {
      id_ = SetTimer(nullptr, 0, static_cast<UINT>(interval_), &OnTimer);
      if (id_ != 0)
        handlers[id_] = handler_;
    } else {
      KillTimer(nullptr, id_);
      handlers.erase(id_);
      id_ = 0;
    }
  }
  bool Enabled() const override { return id_ != 0; }

  void SetInterval(int32_t ms) override {
    interval_ = ms;
    if (id_ != 0)
      SetTimer(nullptr, id_, static_cast<UINT>(interval_), &OnTimer);
  }
  int32_t Interval() const override { return interval_; }

 private:
  int32_t interval_;
  UINT_PTR id_ = 0;
  std::shared_ptr<Handler> handler_;
};

}  // namespace

std::unique_ptr<Timer> Win32Timers::CreateTimer(int32_t intervalMs, std::function<void()> onTick) {
  return std::make_unique<Win32Timer>(intervalMs, std::move(onTick));
}

void Win32Timers::ProcessPendingEvents() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace calvora::platform::win32
