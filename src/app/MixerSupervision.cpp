// The main window's mixer supervision: keeps the chosen lines open in the line controller,
// mutes and restores them, and shows the mixer's state.
#include <algorithm>

#include "app/Main.h"
#include "app/SoundServerNames.h"
#include "platform/AsciiText.h"

namespace calvora::app {

namespace {

// Device names are compared the way the user reads them: "USB Audio" and "usb audio" are one
// device. Letters outside ASCII are compared as they stand.
bool SameDeviceName(const std::string& a, const std::string& b) {
  return platform::EqualsIgnoringAsciiCase(a, b);
}

bool MixerChoiceIncomplete() {
  const auto& s = settings::Settings;
  return s.Lines[0].Device.empty() || (s.LRControl && s.Lines[1].Device.empty());
}

}  // namespace

bool TCV_AudioMixer::CheckMixer() {
  using settings::Settings;
  if (!Settings.UseMixer) {
    if (LineMixer) {
      // The lines are let go where they are: volumes and switches stay as they were.
      ReleaseLineMixer();
      FormSetSize();
    }
    return true;
  }
  if (MixerChoiceIncomplete()) {
    w_.SGMixer.SetText("Select mixer(s)");
    w_.SGMixer.SetProgress(0);
    w_.LabMixer.SetText("SELECT");
    w_.LabMixer.SetColor(ui::colors::kRed);
    return true;
  }
  if (!LineMixer) {
    LineMixer = std::make_unique<mixer::TCVMixer>(services_.MixerDevices, services_.Clock,
                                                  services_.Timers);
    LineMixer->OnDevicesChanged = [this](mixer::TCVMixer&) { MixerChangeDevices(); };
    MixerDeviceIndex = {-1, -1};
    StartMixerWait();
    // The status stays as it is until the next check draws it.
    return TryStartMixer();
  }
  LineMixer->CheckDevices();
  if (LineMixer->DevicesChanged) {
    // A device came or went: start over with the devices now present.
    LineMixer->Reset();
    LineIds = {-1, -1};  // ids of the closed opening; the next one numbers from 1 again
    StartMixerWait();
    const bool started = TryStartMixer();
    DrawMixerWait();
    return started;
  }
  DrawMixerWait();
  return true;
}

void TCV_AudioMixer::StartMixerWait() {
  MixerWaitStart = NowMs;
  MixerDeadline = NowMs + int64_t{settings::Settings.MixerWait} * 1000;
}

void TCV_AudioMixer::ReleaseLineMixer() {
  LineMixer.reset();
  // Ids of a closed controller mean nothing to the next one, which numbers its lines from 1
  // again: a kept id could take away a line of the new opening.
  LineIds = {-1, -1};
}

bool TCV_AudioMixer::TryStartMixer() {
  using settings::Settings;
  if (!LineMixer)
    return false;
  std::vector<std::string> deviceNames;
  LineMixer->GetDeviceNames(deviceNames);
  bool found = CheckMixerLine(deviceNames, 0);
  if (!found)
    w_.SGMixer.SetText(Settings.Lines[0].Device);
  if (found && Settings.LRControl) {
    found = CheckMixerLine(deviceNames, 1);
    if (!found)
      w_.SGMixer.SetText(Settings.Lines[1].Device);
  }
  if (found) {
    LineMixer->SetActive(true);
    w_.SGMixer.SetText(Settings.Lines[0].Device);
    StartMixerLines();
    NotifyPeers(link::NTF_ONLINE, link::DEV_MIXER);
  }
  return found;
}

bool TCV_AudioMixer::CheckMixerLine(const std::vector<std::string>& deviceNames, int element) {
  const std::string& wanted = settings::Settings.Lines[static_cast<size_t>(element)].Device;
  auto it = std::find_if(deviceNames.begin(), deviceNames.end(),
                         [&](const std::string& name) { return SameDeviceName(name, wanted); });
  if (it == deviceNames.end()) {
    it = std::find_if(deviceNames.begin(), deviceNames.end(), [&](const std::string& name) {
      return SameSoundServerDevice(wanted, name, LetterCase::kIgnored);
    });
  }
  int32_t& index = MixerDeviceIndex[static_cast<size_t>(element)];
  index = it == deviceNames.end() ? -1 : static_cast<int32_t>(it - deviceNames.begin());
  return index != -1;
}

void TCV_AudioMixer::DrawMixerWait() {
  if (LineMixer && LineMixer->Active()) {
    w_.SGMixer.SetProgress(0);
    w_.LabMixer.SetText("Online");
    w_.LabMixer.SetColor(ui::colors::kGreen);
    return;
  }
  w_.LabMixer.SetColor(ui::colors::kRed);
  if (NowMs > MixerDeadline) {
    w_.LabMixer.SetText("OFFLINE");
    NotifyPeers(link::NTF_OFFLINE, link::DEV_MIXER);
  } else {
    w_.LabMixer.SetText("WAIT");
    // Whatever comes back must not come back loud: the lines are held muted meanwhile.
    SetMute(true, true);
  }
  // A wait of no length (or a negative one from a hand-edited file) has run out at once.
  const int64_t span = MixerDeadline - MixerWaitStart;
  const int64_t percent = span > 0 ? (NowMs - MixerWaitStart) * 100 / span : 100;
  w_.SGMixer.SetProgress(static_cast<int>(std::clamp<int64_t>(percent, 0, 100)));
}

void TCV_AudioMixer::StartMixerLines() {
  using settings::Settings;
  const size_t elements = Settings.LRControl ? 2 : 1;
  for (size_t i = 0; i < elements; ++i) {
    if (LineIds[i] >= 0) {
      LineMixer->RemoveLine(LineIds[i]);
      LineIds[i] = -1;
    }
    const settings::MixerLineChoice& choice = Settings.Lines[i];
    LineIds[i] = LineMixer->AddLine(0, MixerDeviceIndex[i], choice.Root, choice.Line);
    if (LineIds[i] >= 0)
      LineMixer->StoreLevel(LineIds[i], choice.Level);
  }
  // The starting state, with the configured fade times.
  if (Settings.SourceMode)
    SetMute(MuteWanted, false);
  else
    SetMute(!Settings.SetLevel, false);
}

void TCV_AudioMixer::SetMute(bool mute, bool immediate) {
  using settings::Settings;
  const double seconds = immediate ? 0.0 : (mute ? Settings.FadeOut : Settings.FadeIn);
  if (mute) {
    if (LineMixer)
      LineMixer->FadeOutGroup(0, Settings.OnlyDown, seconds);
    if (LevelFader)
      LevelFader->Start(0, seconds);
  } else {
    if (LineMixer)
      LineMixer->FadeInGroup(0, seconds);
    if (LevelFader)
      LevelFader->Start(100, seconds);
  }
  settings::LinesMuted = mute;
}

void TCV_AudioMixer::MixerChangeDevices() {
  if (LineMixer)
    LineMixer->DevicesChanged = true;
}

void TCV_AudioMixer::LabSilenceDblClick() {
  if (LineMixer)
    SetMute(!settings::LinesMuted, false);
}

}  // namespace calvora::app
