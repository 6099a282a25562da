#pragma once
// The messages posted to one other program's window, sent in order by a thread of their own,
// so that the thread that posts them never waits for that window, however long it is busy.
// Each message is sent with SendMessageTimeout and its answer awaited up to the give-up
// time; a message that asks for no answer goes with SendNotifyMessage. A window that lets
// one message wait the whole give-up time is given up: what was queued for it is dropped.
// Closed, the queue hands its remaining window messages over without waiting.
#include <cstdint>
#include <deque>
#include <memory>
#include <thread>
#include <vector>

#include "platform/Desktop.h"

namespace calvora::platform::win32 {

// Sends one message (WM_COPYDATA carrying bytes with the kind in dwData when data is set)
// and waits up to timeoutMs for the answer.
SendResult SendAndWait(WindowHandle target, uint32_t message, uintptr_t wParam, intptr_t lParam,
                       uint32_t timeoutMs);
SendResult SendDataAndWait(WindowHandle target, uintptr_t wParam, uint32_t kind,
                           std::span<const uint8_t> bytes, uint32_t timeoutMs);

class Win32PeerQueue {
 public:
  struct Message {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    uint32_t lParam = 0;  // the kind, for data
    bool data = false;
    std::vector<uint8_t> bytes;
    bool awaitAnswer = true;
  };

  Win32PeerQueue(WindowHandle target, uint32_t giveUpMs);
  // Hands over the window messages still queued; a thread that is still waiting for the
  // window is left to do that and end on its own.
  ~Win32PeerQueue();
  Win32PeerQueue(const Win32PeerQueue&) = delete;
  Win32PeerQueue& operator=(const Win32PeerQueue&) = delete;

  void Push(Message message);
  // Whether the oldest message not yet answered was queued limitMs or more ago.
  bool WaitingSince(uint32_t limitMs) const;
  // Whether every message was answered (or dropped).
  bool Idle() const;
  // Whether the window was given up since the last call.
  bool TakeGivenUp();
  // Whether a send found the window gone.
  bool Gone() const;

 private:
  struct State;
  static void Run(const std::shared_ptr<State>& state);
  static Result Notify(WindowHandle target, const Message& message);
  static void HandOver(const State& state, const std::deque<Message>& rest);

  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace calvora::platform::win32
