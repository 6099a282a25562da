#pragma once
// A capture on a system's wave input as the main window runs it, recording every block's size
// and levels and every error; the capture and ALSA and waveIn tests share it.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "audio/Level.h"
#include "audio/WaveCapture.h"

namespace calvora::testing {

template <typename WaveInput>
class WaveCaptureFixture : public ::testing::Test {
 protected:
  void TearDown() override {
    if (capture && capture->Active)
      capture->Stop();
    capture.reset();
  }

  // Starts device `device` of the capture's list at `rate` with the main window's geometry:
  // 40 ms blocks, a queue of 16 of them. An error stops the capture.
  int32_t StartDevice(int32_t device, int32_t rate) {
    capture->SelectDevice(device);
    capture->SampleRate = rate;
    capture->BufferSize = rate * 4 / 100;
    capture->SetQueueBytes(capture->BufferSize * 16);
    capture->OnData = [this](audio::TWaveCapture& sender, const char* data, int32_t count) {
      blockSizes.push_back(count);
      levels.push_back(sender.Levels());
      if (onData)
        onData(data, count);
    };
    capture->OnError = [this](audio::TWaveCapture& sender, uint32_t code) {
      errors.push_back(code);
      sender.Stop();
    };
    return capture->Start();
  }

  // Polls every 10 ms, like the work timer, until `done` or the time is up; a device that
  // brings its blocks to the main loop is served meanwhile.
  bool PollUntil(std::chrono::milliseconds limit, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (capture->Active)
        capture->Poll();
      if (done())
        return true;
      RunLoop(std::chrono::milliseconds(10));
    }
    return done();
  }

  // Runs the main loop for a while: by default there is none, and the time is slept away.
  virtual void RunLoop(std::chrono::milliseconds time) { std::this_thread::sleep_for(time); }

  WaveInput input;
  std::unique_ptr<audio::TWaveCapture> capture;
  std::vector<int32_t> blockSizes;
  std::vector<audio::ChannelLevels> levels;
  std::vector<uint32_t> errors;
  // Runs with each block's data, after its size and levels are recorded.
  std::function<void(const char*, int32_t)> onData;
};

}  // namespace calvora::testing
