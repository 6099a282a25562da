// The main window's sound-card supervision: keeps the chosen card capturing, passes every
// captured block to the meter, the silence detector and the peers, and shows the card's state.
#include <algorithm>
#include <span>
#include <vector>

#include "app/Main.h"
#include "app/SoundServerNames.h"
#include "meter/LedMetter.h"

namespace calvora::app {

namespace {
constexpr int32_t kBlocksPerSecond = 100;  // 10 ms blocks
constexpr int32_t kBytesPerFrame = 4;      // 16-bit stereo
constexpr int32_t kQueuedBlocks = 16;      // the capture keeps one more than this queued
}  // namespace

bool TCV_AudioMixer::CheckWCapture() {
  using settings::Settings;
  if (!Settings.UseSoundCard) {
    if (Capture) {
      if (Capture->Active)
        Capture->Stop();
      w_.SGCard.SetProgress(0);
      w_.LabCard.SetText("");
      Capture.reset();
      meter::BuildLed(0, w_.ImgLed, 0);
      FormSetSize();
    }
    return true;
  }
  if (!Capture) {
    Capture = std::make_unique<audio::TWaveCapture>(services_.WaveInput);
    Capture->OnReady = [this](audio::TWaveCapture&) { BlocksReady(); };
    Capture->OnData = [this](audio::TWaveCapture& sender, const char* data, int32_t count) {
      WaveData(sender, data, count);
    };
    Capture->OnError = [this](audio::TWaveCapture& sender, uint32_t code) {
      WaveError(sender, code);
    };
    StartCardWait();
    return TryStartWCapture();
  }
  if (Capture->Active)
    return true;
  if (!Settings.Card.empty()) {
    Capture->RefreshDevices();
    return TryStartWCapture();
  }
  w_.SGCard.SetText("Select soundcard !");
  w_.SGCard.SetProgress(0);
  ShowCardStatus("SELECT", ui::colors::kRed);
  return true;
}

bool TCV_AudioMixer::TryStartWCapture() {
  using settings::Settings;
  w_.SGCard.SetText(Settings.Card);
  bool failed = false;
  // A restart always begins by looking for silence afresh.
  ReleaseDetector();
  // The card of the stored name; else the sound server's capture stored under the other
  // server's name (SoundServerNames.h).
  int32_t chosen = -1;
  for (int32_t i = 0; i < Capture->DeviceCount() && chosen < 0; ++i)
    if (Capture->DeviceName(i) == Settings.Card)
      chosen = i;
  for (int32_t i = 0; i < Capture->DeviceCount() && chosen < 0; ++i)
    if (SameSoundServerDevice(Settings.Card, Capture->DeviceName(i), LetterCase::kMatters))
      chosen = i;
  if (chosen >= 0) {
    Capture->SelectDevice(chosen);
    Capture->SampleRate = Settings.Bitrate;
    Capture->BufferSize = Capture->SampleRate * kBytesPerFrame / kBlocksPerSecond;
    Capture->SetQueueBytes(Capture->BufferSize * kQueuedBlocks);
    if (Capture->Start() == 0) {
      ShowCardStatus("Online", ui::colors::kGreen);
      w_.SGCard.SetProgress(0);
      NotifyPeers(link::NTF_ONLINE, link::DEV_CARD);
      Detector = std::make_unique<audio::TSilence>();
      Detector->OnSilence = [this](audio::TSilence& sender, uint8_t verdict) {
        SilenceFound(sender, verdict);
      };
      if (Settings.SilenceTime > 0)
        Detector->Configure(audio::smSeekSilence, Settings.SilenceTime, Settings.SilenceLevel);
      return true;
    }
    // Only the one device is tried: after a start error the search ends here.
    ShowCardStatus("ERROR", ui::colors::kRed);
    failed = true;
  }
  if (!failed)
    ShowCardStatus("WAIT", ui::colors::kRed);
  if (NowMs > CardDeadline) {
    ShowCardStatus("OFFLINE", ui::colors::kRed);
    NotifyPeers(link::NTF_OFFLINE, link::DEV_CARD);
  }
  // A wait of no length (a "Wait device" of 0) has run out as soon as it starts.
  const int64_t span = CardDeadline - CardWaitStart;
  const int64_t percent = span > 0 ? (NowMs - CardWaitStart) * 100 / span : 100;
  w_.SGCard.SetProgress(static_cast<int>(std::clamp<int64_t>(percent, 0, 100)));
  return false;
}

void TCV_AudioMixer::WaveData(audio::TWaveCapture& sender, const char* data, int32_t count) {
  const audio::ChannelLevels levels = sender.Levels();
  meter::DrawLed(0, w_.ImgLed, levels);
  if (Detector)
    Detector->Feed(data, count, sender.SampleRate);
  // The peers get the block behind a header with its format and levels.
  link::AudioBlockHeader header;
  header.SampleRate = sender.SampleRate;
  header.LeftLevel = levels[0];
  header.RightLevel = levels[1];
  const std::vector<uint8_t> packet = header.Pack(
      std::span(reinterpret_cast<const uint8_t*>(data), static_cast<size_t>(std::max(count, 0))));
  if (CommandChannel)
    CommandChannel->SendDataToPeers(0, 0, packet.data(), packet.size());
}

void TCV_AudioMixer::WaveError(audio::TWaveCapture& sender, uint32_t) {
  // The status word stays; the next check finds the capture stopped and tries again.
  sender.Stop();
  StartCardWait();
  meter::BuildLed(0, w_.ImgLed, 0);
}

void TCV_AudioMixer::SilenceFound(audio::TSilence& sender, uint8_t verdict) {
  using settings::Settings;
  if (verdict == audio::smSeekSilence) {
    sender.Configure(audio::smSeekSound, Settings.RestoreTime, Settings.SilenceLevel);
    AirSilent = true;
    NotifyPeers(link::NTF_SILENCE, 0);
    ShowCardStatus("Silence", ui::colors::kRed);
  } else if (verdict == audio::smSeekSound) {
    sender.Configure(audio::smSeekSilence, Settings.SilenceTime, Settings.SilenceLevel);
    AirSilent = false;
    NotifyPeers(link::NTF_SOUND, 0);
    ShowCardStatus("Online", ui::colors::kGreen);
  }
}

void TCV_AudioMixer::ImgLedClick() {
  // The meter wraps a style of 4 or more to 0, so clicks cycle through the four scales.
  meter::SetLedStyle(0, w_.ImgLed, meter::LedStyle(0) + 1);
}

void TCV_AudioMixer::StartCardWait() {
  CardWaitStart = NowMs;
  CardDeadline = NowMs + int64_t{settings::Settings.CardWait} * 1000;
}

void TCV_AudioMixer::ShowCardStatus(const std::string& word, ui::Color color) {
  w_.LabCard.SetText(word);
  w_.LabCard.SetColor(color);
}

void TCV_AudioMixer::NotifyPeers(uint16_t code, uint16_t argument) {
  if (CommandChannel)
    CommandChannel->SendToPeers(code, argument);
}

}  // namespace calvora::app
