#pragma once
// The desktop of real windows. The desktop creates this program's window, a hidden top-level
// window of the given class, on the calling thread, whose message loop runs the handlers.
// Sends use SendMessageTimeout with the reply time-out; data travels as WM_COPYDATA with the
// kind in dwData. A posted message goes out with SendMessageCallback, so it stays in order
// with the sends to the same window, and a watched one that has no answer within the time-out
// is reported from the window's timer. WM_COPYDATA cannot be sent without waiting, so a
// posted data message is sent with the time-out (the peer's first hang costs it once; the
// owner then drops the peer). The system does not say who sent a message: as the peers of
// this protocol always have, a sender names its window in wParam, and MessageSender is that
// window while it exists.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Desktop.h"

namespace calvora::platform::win32 {

class Win32Desktop : public Desktop {
 public:
  explicit Win32Desktop(std::string_view className);
  ~Win32Desktop() override;
  Win32Desktop(const Win32Desktop&) = delete;
  Win32Desktop& operator=(const Win32Desktop&) = delete;

  WindowHandle OwnWindow() const override { return ownWindow_; }
  std::vector<WindowInfo> EnumWindows() override;
  SendResult SendMessage(WindowHandle target, uint32_t message, uint32_t wParam,
                         uint32_t lParam) override;
  SendResult SendData(WindowHandle target, uint32_t wParam, uint32_t kind,
                      std::span<const uint8_t> bytes) override;
  Result PostMessage(WindowHandle target, uint32_t message, uint32_t wParam, uint32_t lParam,
                     Answer answer) override;
  Result PostData(WindowHandle target, uint32_t wParam, uint32_t kind,
                  std::span<const uint8_t> bytes, Answer answer) override;
  WindowHandle MessageSender() const override { return messageSender_; }
  void SetMessageHandler(MessageHandler handler) override { messageHandler_ = std::move(handler); }
  void SetDataHandler(DataHandler handler) override { dataHandler_ = std::move(handler); }
  void SetUnansweredHandler(UnansweredHandler handler) override {
    unansweredHandler_ = std::move(handler);
  }

  // Runs the thread's message loop for up to timeoutMs: answers the messages sent to this
  // program's window and dispatches its timers. Returns once it has handled what came, or
  // when the time is up with nothing coming.
  void WaitAndProcess(int32_t timeoutMs);

  // Answers a message to this program's window; called by its window procedure.
  intptr_t HandleWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
  // A watched post was answered (called on this desktop's thread).
  void Answered(uint64_t watchId);

 private:
  // A watched post that has not been answered yet.
  struct Watch {
    uint64_t id = 0;
    WindowHandle target = 0;
    uint32_t sentAt = 0;  // tick count
  };

  void StartWatch(WindowHandle target, uint64_t id);
  void CheckWatches();
  WindowHandle SenderNamedBy(uintptr_t wParam) const;

  std::wstring className_;
  WindowHandle ownWindow_ = 0;
  MessageHandler messageHandler_;
  DataHandler dataHandler_;
  UnansweredHandler unansweredHandler_;
  WindowHandle messageSender_ = 0;
  std::vector<Watch> watches_;
};

}  // namespace calvora::platform::win32
