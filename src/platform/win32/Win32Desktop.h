#pragma once
// The desktop of real windows. The desktop creates this program's window, a hidden top-level
// window of the given class, on the calling thread, whose message loop runs the handlers.
// Sends use SendMessageTimeout with the reply time-out; data travels as WM_COPYDATA with the
// kind in dwData. Posts to a window go through a queue of its own whose thread sends them in
// order (Win32PeerQueue), so no window ever waits behind another and the loop of this
// program's window never waits at all; a window whose oldest post has waited
// kReplyTimeoutMs is behind, and one that leaves a post unanswered for the give-up time is
// reported from the window's timer, its queue let go first: whatever is posted to it after
// the report (a goodbye) reaches it next. A send to a window with posts still queued waits for
// them first, so sends and posts keep their order. The system does not say who sent a
// message: as the peers of this protocol always have, a sender names its window in wParam,
// and MessageSender is that window while it exists.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Desktop.h"
#include "platform/win32/Win32PeerQueue.h"

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
  bool Behind(WindowHandle target) const override;
  void HandOverPosts() override;
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

 private:
  void Queue(WindowHandle target, Win32PeerQueue::Message message);
  // Waits, answering the messages sent to this window, until the posts queued for the
  // target are all answered; the milliseconds left of the reply time-out, or 0 when it ran out.
  uint32_t WaitForPosts(WindowHandle target);
  // Answers the messages sent to this window that come within waitMs.
  static void AnswerSentMessages(uint32_t waitMs);
  // Reports the windows given up and forgets the queues of windows that are gone.
  void CheckQueues();
  WindowHandle SenderNamedBy(uintptr_t wParam) const;

  std::wstring className_;
  WindowHandle ownWindow_ = 0;
  MessageHandler messageHandler_;
  DataHandler dataHandler_;
  UnansweredHandler unansweredHandler_;
  WindowHandle messageSender_ = 0;
  uint32_t giveUpMs_ = kGiveUpMs;
  std::map<WindowHandle, std::unique_ptr<Win32PeerQueue>> queues_;
};

}  // namespace calvora::platform::win32
