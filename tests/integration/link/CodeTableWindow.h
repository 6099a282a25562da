#pragma once
// A window that answers command messages as the utility's main window does with its
// interactive mode on: hello and goodbye go to the command channel, identify answers the
// program ID, every other code is only reported. It can be told to hang in its handler.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/WinMSG.h"
#include "platform/Desktop.h"
#include "platform/Timers.h"

namespace calvora::testing {

class CodeTableWindow {
 public:
  CodeTableWindow(platform::Desktop& desktop, platform::Timers& timers, int16_t pid);
  ~CodeTableWindow();

  link::TWinMSG& Channel() { return *channel_; }
  void SetHangMs(int32_t ms) { hangMs_ = ms; }

  // Called for every message received, after it was handled, with a line describing it:
  // "received <from> <code> <argument>" or "data <from> <kind> <size> <rate> <channels>
  // <bits> <left> <right>".
  std::function<void(const std::string&)> onEvent;
  // Called when a hello arrives, before it is queued.
  std::function<void(platform::WindowHandle)> onHello;

  // An audio packet as the main window builds it: 48000 Hz, levels -6.5 and -7.25 dB,
  // samples counting up from 0.
  static std::vector<uint8_t> AudioPacket(std::size_t sampleBytes);

 private:
  platform::Desktop& desktop_;
  std::unique_ptr<link::TWinMSG> channel_;
  int16_t pid_;
  int32_t hangMs_ = 0;
};

}  // namespace calvora::testing
