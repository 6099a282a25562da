// The main window in interactive mode: the controlling program's commands start and stop the
// work and mute and restore the lines.
#include "app/Main.h"
#include "meter/LedMetter.h"

namespace calvora::app {

void TCV_AudioMixer::ReceiveCMD(link::TMessage& message) {
  using settings::Settings;
  // Outside interactive mode every message is dropped unanswered, so no peer ever connects.
  if (!CommandChannel || !Settings.SourceMode)
    return;
  uint16_t code = 0;
  uint16_t argument = 0;
  if (CommandChannel->HandleControl(message, code, argument)) {
    if (argument == link::CTRL_IDENTIFY)
      message.Result = Settings.PID;  // sign-extended
    return;
  }
  // A command that arrives while the window closes (in the pause or during the goodbyes)
  // must not restart the work or reach the objects already released.
  if (closing_)
    return;
  switch (code) {
    case link::CMD_RUN:
      Run_Source(argument == link::RUN_RESTORE);
      break;
    case link::CMD_STOP:
      Stop_Source(argument == link::STOP_MUTE);
      break;
    case link::CMD_UNMUTE:
      if (LineMixer)
        SetMute(false, false);
      MuteWanted = false;
      break;
    case link::CMD_MUTE:
      if (LineMixer)
        SetMute(true, false);
      MuteWanted = true;
      break;
    case link::CMD_VERDICT:
      message.Result = CurrentVerdict();
      break;
    default:
      break;
  }
}

int32_t TCV_AudioMixer::CurrentVerdict() const {
  // A peer that joins late learns the air's state here: the notifications tell only changes.
  if (!Timer->Enabled())
    return link::VERDICT_NOT_STARTED;
  if (!Capture || !Capture->Active)
    return link::VERDICT_NO_CAPTURE;
  // With a silence time of 0 the detector looks for nothing: "sound" would be an all-clear
  // that nobody checked.
  if (settings::Settings.SilenceTime <= 0)
    return link::VERDICT_NO_DETECTION;
  return AirSilent ? link::VERDICT_SILENCE : link::VERDICT_SOUND;
}

void TCV_AudioMixer::Run_Source(bool restore) {
  // The next tick runs both checks at once: their times lie in the past.
  StartWorkTimer();
  if (restore) {
    MuteWanted = false;
    if (LineMixer)
      SetMute(false, false);
  }
}

void TCV_AudioMixer::Stop_Source(bool mute) {
  // The capture and the detector stay; the next start only restarts the capture.
  if (Capture) {
    if (Capture->Active)
      Capture->Stop();
    meter::BuildLed(0, w_.ImgLed, 0);
  }
  if (LineMixer) {
    if (mute)
      SetMute(true, false);
    MuteWanted = true;
  }
  Timer->SetEnabled(false);
  ShowCardStatus("STOP", ui::colors::kRed);
}

}  // namespace calvora::app
