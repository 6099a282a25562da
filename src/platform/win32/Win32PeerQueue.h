#pragma once
// The messages posted to one other program's window, sent in order by a thread of their own,
// so that the thread that posts them never waits for that window, however long it is busy.
// Each message is sent with SendMessageTimeout and its answer awaited up to the give-up
// time; a message that asks for no answer goes with SendNotifyMessage. A window that lets
// one message wait the whole give-up time is given up: what was queued for it is dropped,
// and so is everything pushed after, so that a goodbye sent to it by another queue is the
// next message it handles. Stopped, the queue hands its remaining window messages over to
// the system's own message queue, which holds them for the window however long it sleeps.
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
  // Stops the queue (unless it was) and waits up to kFinishWaitMs for the thread to end; a
  // thread still waiting for the window is let go, after HandOverNow.
  ~Win32PeerQueue();
  Win32PeerQueue(const Win32PeerQueue&) = delete;
  Win32PeerQueue& operator=(const Win32PeerQueue&) = delete;

  // How long a stopped queue's thread is given to hand over what is queued by itself, behind
  // the message in flight, before HandOverNow does it from the closing thread.
  static constexpr uint32_t kFinishWaitMs = 500;

  // Queues a message, unless the window was given up or the queue stopped: then it is dropped.
  void Push(Message message);
  // Whether the oldest message not yet answered was queued limitMs or more ago; a window
  // given up answered none, and stays behind.
  bool WaitingSince(uint32_t limitMs) const;
  // Whether every message was answered (or dropped).
  bool Idle() const;
  // Whether the window was given up since the last call.
  bool TakeGivenUp();
  // Whether a send found the window gone.
  bool Gone() const;

  // Takes no more messages; the thread hands over those queued once the window has answered
  // the one in flight, and ends.
  void Stop();
  // Whether the stopped queue's thread has handed over what was queued and ended.
  bool Finished() const;
  // Hands the messages still queued over from the calling thread, for a thread that waits
  // for a window in flight: they reach the window after that message, without waiting.
  void HandOverNow();

 private:
  struct State;
  static void Run(const std::shared_ptr<State>& state);
  static Result Notify(WindowHandle target, const Message& message);
  static void HandOver(const State& state, const std::deque<Message>& rest);

  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace calvora::platform::win32
