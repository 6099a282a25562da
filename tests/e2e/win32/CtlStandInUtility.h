#pragma once
// A stand-in for the utility's window, for driving calvora-ctl.exe from a test: a window of the
// class TCV_AudioMixer on a thread of its own that answers identify with its program ID,
// admits a hello, records every command it receives and, on the test's word, notifies the
// admitted peer and sends it audio blocks. Made "hung", its thread never takes a message, so
// every send to it times out.
#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace calvora::e2e {

class CtlStandInUtility {
 public:
  // A window message 2102 as received: the code and argument of lParam, and wParam.
  struct Received {
    uint16_t code = 0;
    uint16_t argument = 0;
    uint32_t from = 0;
  };

  enum class Behaviour { kAnswering, kHung };

  explicit CtlStandInUtility(int16_t programId, Behaviour behaviour = Behaviour::kAnswering);
  ~CtlStandInUtility();
  CtlStandInUtility(const CtlStandInUtility&) = delete;
  CtlStandInUtility& operator=(const CtlStandInUtility&) = delete;

  uint32_t Handle() const { return handle_; }
  // The window that said hello last and has not said goodbye, or 0.
  uint32_t Peer() const;
  std::vector<Received> ReceivedSoFar() const;

  // Waits up to timeoutMs for a received message that matches; true when one came.
  bool WaitFor(const std::function<bool(const Received&)>& match, int timeoutMs) const;
  bool WaitForCommand(uint16_t code, uint16_t argument, int timeoutMs) const;
  // Waits for a hello; the peer's window, or 0.
  uint32_t WaitForPeer(int timeoutMs) const;

  // Sends a notification (or a control message) to the peer as the utility does, with this
  // window in wParam; false when the peer did not answer.
  bool Notify(uint16_t code, uint16_t argument) const;
  // Sends an audio block of `bytes` bytes of silence with these header fields.
  bool SendAudioBlock(int32_t rate, uint8_t channels, double left, double right,
                      std::size_t bytes) const;
  // Sends a data message of any kind and content.
  bool SendData(uint32_t kind, std::span<const uint8_t> bytes) const;

 private:
  void Serve(Behaviour behaviour);
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnCommand(WPARAM wParam, LPARAM lParam);

  const int16_t programId_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Received> received_;
  uint32_t peer_ = 0;
  uint32_t handle_ = 0;
  DWORD threadId_ = 0;
  HANDLE release_ = nullptr;  // ends the hung thread's wait
  std::thread thread_;
};

}  // namespace calvora::e2e
