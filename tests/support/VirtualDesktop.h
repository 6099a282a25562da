#pragma once
// A desktop under the test's control: the test lists the windows, decides how each send is
// answered (or hangs it), and delivers messages to the program's own window as another
// program would, also in the middle of a send.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/Desktop.h"

namespace calvora::testing {

class VirtualDesktop : public platform::Desktop {
 public:
  // One send as the receiving window saw it.
  struct Sent {
    platform::WindowHandle target = 0;
    bool data = false;  // a data message rather than a window message
    uint32_t message = 0;
    uint32_t wParam = 0;
    uint32_t lParam = 0;  // the kind, for a data message
    std::vector<uint8_t> bytes;
    bool posted = false;  // handed over without waiting for the answer
    Answer answer = Answer::kWatch;
  };

  explicit VirtualDesktop(platform::WindowHandle ownWindow = 100,
                          std::string ownClass = "TCV_AudioMixer");

  void AddWindow(platform::WindowHandle handle, std::string className);
  void RemoveWindow(platform::WindowHandle handle);
  // Sends to a hung window come back with a time-out. Only listed windows can hang.
  void SetHung(platform::WindowHandle handle, bool hung);
  // A window that is behind is still sent everything; Behind says so until it catches up.
  void SetBehind(platform::WindowHandle handle, bool behind);

  // Runs the own window's handler, as a message from another program does; the sender is
  // the window wParam names.
  int32_t Deliver(uint32_t message, uint32_t wParam, uint32_t lParam);
  // The same from a sender whose wParam may name some other window.
  int32_t DeliverFrom(platform::WindowHandle sender, uint32_t message, uint32_t wParam,
                      uint32_t lParam);
  // The give-up time passes: every hung window that was posted a message asking for an answer
  // since it was last reported is reported to the unanswered handler.
  void ExpireUnanswered();

  // Called for every send to an existing, responsive window before it is answered; the
  // test may deliver messages from it. Its return value is the window's answer.
  std::function<int32_t(const Sent&)> onSend;
  // Called at the start of every listing.
  std::function<void()> onEnumWindows;

  std::vector<Sent> sent;  // every send, in order, including those to gone or hung windows
  int enumCount = 0;
  // The handles that received a window message with this lParam, in order.
  std::vector<platform::WindowHandle> TargetsOf(uint32_t lParam) const;

  platform::WindowHandle OwnWindow() const override { return ownWindow_; }
  std::vector<platform::WindowInfo> EnumWindows() override;
  platform::SendResult SendMessage(platform::WindowHandle target, uint32_t message, uint32_t wParam,
                                   uint32_t lParam) override;
  platform::SendResult SendData(platform::WindowHandle target, uint32_t wParam, uint32_t kind,
                                std::span<const uint8_t> bytes) override;
  platform::Result PostMessage(platform::WindowHandle target, uint32_t message, uint32_t wParam,
                               uint32_t lParam, Answer answer) override;
  platform::Result PostData(platform::WindowHandle target, uint32_t wParam, uint32_t kind,
                            std::span<const uint8_t> bytes, Answer answer) override;
  bool Behind(platform::WindowHandle target) const override;
  platform::WindowHandle MessageSender() const override { return sender_; }
  void SetMessageHandler(MessageHandler handler) override { handler_ = std::move(handler); }
  void SetDataHandler(DataHandler handler) override { dataHandler_ = std::move(handler); }
  void SetUnansweredHandler(UnansweredHandler handler) override {
    unansweredHandler_ = std::move(handler);
  }

 private:
  platform::SendResult Route(Sent sent);

  struct Window {
    std::string className;
    bool hung = false;
    bool behind = false;
    bool unanswered = false;  // posted a message asking for an answer while hung
  };
  platform::Result Post(Sent sent);

  platform::WindowHandle ownWindow_;
  platform::WindowHandle sender_ = 0;
  std::map<platform::WindowHandle, Window> windows_;
  MessageHandler handler_;
  DataHandler dataHandler_;
  UnansweredHandler unansweredHandler_;
};

}  // namespace calvora::testing
