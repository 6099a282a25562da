#pragma once
// The window with its sound-card supervision and interactive mode as they are, the mixer check
// left out and every mute and restore of the lines recorded instead of carried out.
#include <utility>
#include <vector>

#include "WindowFixture.h"
#include "link/WinMSG.h"

namespace calvora::app {

class ObservedWindow : public TCV_AudioMixer {
 public:
  using TCV_AudioMixer::TCV_AudioMixer;
  // (mute, immediate) of each call.
  std::vector<std::pair<bool, bool>> muteCalls;

 protected:
  bool CheckMixer() override { return true; }
  void SetMute(bool mute, bool immediate) override { muteCalls.emplace_back(mute, immediate); }
};

// Helpers for driving the window as a controlling program and a sound card do.
template <typename WaveInput = testing::VirtualWaveInput>
class ObservedWindowTest : public WindowFixture<ObservedWindow, WaveInput> {
 protected:
  using Base = WindowFixture<ObservedWindow, WaveInput>;

  // Sends a command as the program with window `from` does; returns the answer.
  int32_t Command(uint16_t code, uint16_t argument, platform::WindowHandle from = 300) {
    return this->desktop.Deliver(link::WM_WINMSG, from,
                                 link::TWinMSG::EncodeCommand(code, argument));
  }
  // A controlling program is announced and admitted by the channel's next scan.
  void Connect(platform::WindowHandle peer) {
    this->desktop.AddWindow(peer, "Controller");
    this->window->CommandChannel->AnnouncePeer(peer);
    this->timers.Advance(link::TWinMSG::kScanIntervalMs);
  }
  // The device fills `count` 10 ms blocks at 48 kHz, each collected by the next work tick.
  void Blocks(int count, int16_t left, int16_t right) {
    for (int i = 0; i < count; ++i) {
      this->waveInput.FillOldest(testing::VirtualWaveInput::Frames(480, left, right));
      this->timers.Advance(10);
    }
  }
  // How often `peer` got the notification.
  int Notifications(uint16_t code, uint16_t argument, platform::WindowHandle peer = 300) const {
    int n = 0;
    for (platform::WindowHandle target :
         this->desktop.TargetsOf(link::TWinMSG::EncodeCommand(code, argument)))
      n += target == peer ? 1 : 0;
    return n;
  }
  // The audio blocks `peer` received, header and samples.
  std::vector<std::vector<uint8_t>> AudioTo(platform::WindowHandle peer) const {
    std::vector<std::vector<uint8_t>> blocks;
    for (const auto& s : this->desktop.sent)
      if (s.data && s.target == peer)
        blocks.push_back(s.bytes);
    return blocks;
  }
  std::string Status() const { return this->labCard.text; }
  bool StatusIs(const std::string& word, ui::Color color) const {
    return this->labCard.text == word && this->labCard.color == color;
  }
};

}  // namespace calvora::app
