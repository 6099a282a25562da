#include "app/Main.h"

#include <algorithm>
#include <cmath>

#include "meter/LedMetter.h"

namespace calvora::app {

namespace {
constexpr int32_t kWorkTickMs = 10;
constexpr int64_t kCheckPeriodMs = 500;
// With the capture's blocks brought to the main thread by the device, the work timer has
// nothing to do between checks: it ticks once a check is due (a check runs on the first tick more
// than kCheckPeriodMs after the last one, as with the 10 ms tick).
constexpr int32_t kCheckTickMs = static_cast<int32_t>(kCheckPeriodMs) + kWorkTickMs;
}  // namespace

TCV_AudioMixer::TCV_AudioMixer(const MainWindowWidgets& widgets, MainWindowServices services)
    : w_(widgets), services_(std::move(services)), engine_(services_.Clock, services_.Timers) {
  Timer = services_.Timers.CreateTimer(kWorkTickMs, [this] { WorkTick(); });
  w_.SBSettings.OnClick = [this] { SBSettingsClick(); };
  w_.ImgLed.OnClick = [this] { ImgLedClick(); };
  w_.TrayIcon.OnDoubleClick = [this] { TrayIconDblClick(); };
  w_.LabSilence.OnDoubleClick = [this] { LabSilenceDblClick(); };
  w_.Form.OnCloseQuery = [this] { return FormClose(); };
  w_.Form.OnMinimize = [this] { SkinFrameMinimize(); };
  w_.Form.OnRestore = [this] { SkinFrameRestore(); };
  FormCreate();
}

TCV_AudioMixer::~TCV_AudioMixer() {
  services_.Desktop.SetMessageHandler(nullptr);
  w_.SBSettings.OnClick = nullptr;
  w_.ImgLed.OnClick = nullptr;
  w_.TrayIcon.OnDoubleClick = nullptr;
  w_.LabSilence.OnDoubleClick = nullptr;
  w_.Form.OnCloseQuery = nullptr;
  w_.Form.OnMinimize = nullptr;
  w_.Form.OnRestore = nullptr;
}

void TCV_AudioMixer::FormCreate() {
  using settings::Settings;
  AskOnClose = true;
  if (services_.RaisePriority)
    services_.RaisePriority();
  w_.Form.SetCaption(std::string(kProgramTitle) + " " + services_.FileVersion);
  w_.TrayIcon.SetHint(kProgramTitle);
  LineIds = {-1, -1};
  LevelFader = std::make_unique<mixer::TCVFader>(services_.Clock, services_.Timers);
  LevelFader->SetValue(0);
  LevelFader->OnChange = [this](mixer::TCVFader& sender, double value) {
    ShowMixerValue(sender, value);
  };
  CommandChannel = std::make_unique<link::TWinMSG>(services_.Desktop, services_.Timers);
  services_.Desktop.SetMessageHandler([this](const platform::IncomingMessage& incoming) {
    if (incoming.message != link::WM_WINMSG)
      return int32_t{0};
    link::TMessage message{incoming.message, incoming.wParam, incoming.lParam, 0};
    ReceiveCMD(message);
    return message.Result;
  });
  meter::BuildLed(0, w_.ImgLed, 0);
  services_.Store.LoadSettings();
  FormSetSize();
  NextCardCheck = CardWaitStart = CardDeadline = 0;
  NextMixerCheck = MixerWaitStart = MixerDeadline = 0;
  NowMs = 0;
  if (!Settings.SourceMode)
    StartWorkTimer();
  // In interactive mode the controlling program decides when the lines come up.
  if (Settings.SourceMode)
    Settings.SetLevel = false;
  MuteWanted = !Settings.SetLevel;
  if (Settings.Hide) {
    w_.Form.Minimize();
    SkinFrameMinimize();
  }
}

void TCV_AudioMixer::FormSetSize() {
  using settings::Settings;
  int h = w_.PanSett.ClientHeight();
  if (Settings.UseSoundCard)
    h += w_.PanCard.ClientHeight();
  if (Settings.UseMixer)
    h += w_.PanMixer.ClientHeight();
  w_.Form.SetClientHeight(h);
  w_.PanWork.SetClientHeight(h);
  w_.PanCard.SetVisible(Settings.UseSoundCard);
  w_.PanMixer.SetVisible(Settings.UseMixer);
}

void TCV_AudioMixer::WorkTick() {
  NowMs = engine_.TickCount64();
  // Each check is scheduled before it runs, so a slow check does not shift the next one.
  if (NextCardCheck < NowMs) {
    NextCardCheck = NowMs + kCheckPeriodMs;
    CheckWCapture();
  }
  if (NextMixerCheck < NowMs) {
    NextMixerCheck = NowMs + kCheckPeriodMs;
    CheckMixer();
  }
  // Captured blocks reach the window's data handler from inside the poll. Where the device
  // brings them to the main thread they have come already, and the tick only runs the checks.
  if (Capture && Capture->Active)
    Capture->Poll();
  if (services_.WaveInput.ReadyOnMainThread() && Timer->Interval() != kCheckTickMs)
    Timer->SetInterval(kCheckTickMs);
}

void TCV_AudioMixer::BlocksReady() {
  if (!Capture || !Capture->Active)
    return;
  // A failing device restarts its wait from this moment, not from the last check.
  NowMs = engine_.TickCount64();
  Capture->Poll();
}

void TCV_AudioMixer::StartWorkTimer() {
  if (Timer->Interval() != kWorkTickMs)
    Timer->SetInterval(kWorkTickMs);
  Timer->SetEnabled(true);
}

void TCV_AudioMixer::SBSettingsClick() {
  namespace s = settings;
  // A cancelled dialog has already put the old settings back; the flags say what to rebuild.
  s::SettingsStore& store = services_.Store;
  store.EditSettings(services_.RunSettingsDialog ? services_.RunSettingsDialog
                                                 : std::function<bool()>([] { return false; }));
  FormSetSize();
  if (s::CardChanged) {
    // The next sound-card check creates the capture and the detector anew.
    s::CardChanged = false;
    ReleaseCapture();
    ReleaseDetector();
  }
  if (s::MixerDeviceChanged) {
    // The next mixer check creates the controller anew, which also reopens the lines.
    s::MixerDeviceChanged = false;
    s::MixerLinesChanged = false;
    if (LineMixer) {
      LineMixer->RemoveGroup(0);
      ReleaseLineMixer();
    }
  }
  if (s::MixerLinesChanged) {
    s::MixerLinesChanged = false;
    if (LineMixer) {
      LineMixer->RemoveGroup(0);
      TryStartMixer();
    }
  }
  if (s::MixerLevelChanged) {
    s::MixerLevelChanged = false;
    if (LineMixer) {
      // Lines that play take their new level at once. Muted lines only keep it for the next
      // restore: setting it now would open their switches in the middle of a silence. The
      // second choice is a line of its own only while both sides are controlled.
      const size_t elements = s::Settings.LRControl ? 2 : 1;
      for (size_t i = 0; i < elements; ++i)
        if (s::LinesMuted)
          LineMixer->StoreLevel(LineIds[i], s::Settings.Lines[i].Level);
        else
          LineMixer->FadeTo(LineIds[i], s::Settings.Lines[i].Level, 0);
    }
  }
}

void TCV_AudioMixer::ReleaseCapture() {
  if (!Capture)
    return;
  if (Capture->Active)
    Capture->Stop();
  Capture.reset();
}

void TCV_AudioMixer::ReleaseDetector() {
  if (!Detector)
    return;
  Detector->Configure(audio::smOff, 0, 0);
  Detector.reset();
  AirSilent = false;
}

void TCV_AudioMixer::SkinFrameMinimize() {
  if (!settings::Settings.Hide)
    return;
  // Without a notification area there would be no way back to a hidden window.
  if (!w_.TrayIcon.Available())
    return;
  w_.Form.HideFromDesktop();
  w_.TrayIcon.SetVisible(true);
}

void TCV_AudioMixer::SkinFrameRestore() {
  w_.Form.Restore();
  w_.TrayIcon.SetVisible(false);
}

void TCV_AudioMixer::TrayIconDblClick() {
  w_.Form.Restore();
  w_.TrayIcon.SetVisible(false);
}

bool TCV_AudioMixer::FormClose() {
  if (closing_)
    return false;
  if (settings::Settings.SourceMode && AskOnClose &&
      !w_.MSG.ConfirmYesNo("Are you sure exit this program?"))
    return false;
  closing_ = true;
  Timer->SetEnabled(false);
  engine_.PauseMs(10);
  ReleaseDetector();
  ReleaseCapture();
  // Closing the controller leaves the lines' volumes and switches as they are.
  ReleaseLineMixer();
  if (CommandChannel) {
    // Every peer hears the goodbye before the channel goes, also one that is busy now: the
    // goodbyes are handed to the system, which holds them for the peers, before the program
    // lets go of its senders and ends.
    CommandChannel->SendToPeers(link::WINMSG_CONTROL, link::CTRL_BYE);
    services_.Desktop.SetMessageHandler(nullptr);
    services_.Desktop.HandOverPosts();
    CommandChannel.reset();
  }
  LevelFader.reset();
  return true;
}

void TCV_AudioMixer::ShowMixerValue(mixer::TCVFader&, double value) {
  // The conversion cuts toward zero; a value that is not a number shows as 0.
  const double shown = std::isfinite(value) ? std::clamp(value, 0.0, 100.0) : 0.0;
  w_.SGLevel.SetProgress(static_cast<int>(shown));
}

void TCV_AudioMixer::WMSystem_Shutdown_Query() {
  AskOnClose = false;
  w_.Form.Close();
}

}  // namespace calvora::app
