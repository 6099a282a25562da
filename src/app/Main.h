#pragma once
// The main window: owns every long-lived object of the program and drives it from one work
// timer that runs the sound-card and mixer checks every 500 ms. Captured blocks are collected
// as soon as the sound card's device brings them to the main thread; a device that cannot do
// that has the work timer run every 10 ms and poll the capture on each tick.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Engine.h"
#include "audio/Silence.h"
#include "audio/WaveCapture.h"
#include "link/WinMSG.h"
#include "mixer/CVFaders.h"
#include "mixer/CVMixer.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "platform/MixerDevices.h"
#include "platform/Timers.h"
#include "platform/WaveInput.h"
#include "settings/Settings.h"
#include "ui/Button.h"
#include "ui/Canvas.h"
#include "ui/Gauge.h"
#include "ui/Label.h"
#include "ui/MessageBox.h"
#include "ui/Panel.h"
#include "ui/TrayIcon.h"
#include "ui/Window.h"

namespace calvora::app {

inline constexpr const char* kProgramTitle = "Calvora Audio Mixer";

// The widgets of the window's form, by the roles the window code uses.
struct MainWindowWidgets {
  ui::Window& Form;
  ui::Panel& PanWork;
  ui::Panel& PanCard;
  ui::Gauge& SGCard;
  ui::Label& LabCard;
  ui::Panel& PanLed;
  ui::Canvas& ImgLed;
  ui::Panel& PanMixer;
  ui::Gauge& SGMixer;
  ui::Label& LabMixer;
  ui::Gauge& SGLevel;
  ui::Label& LabSilence;
  ui::Panel& PanSett;
  ui::Button& SBSettings;
  ui::TrayIcon& TrayIcon;
  ui::MessageBox& MSG;
};

// The services the window runs on.
struct MainWindowServices {
  platform::Clock& Clock;
  platform::Timers& Timers;
  // The window's own place on the desktop, through which controlling programs reach it.
  platform::Desktop& Desktop;
  // The sound cards' inputs the capture records from.
  platform::WaveInput& WaveInput;
  // The mixer devices the line controller mutes and restores.
  platform::MixerDevices& MixerDevices;
  settings::SettingsStore& Store;
  // The executable's file version, shown in the caption.
  std::string FileVersion;
  // Raises the process priority where the system allows it; a refusal is ignored.
  std::function<void()> RaisePriority;
  // Shows the settings dialog modally; true when it closed after a successful save.
  std::function<bool()> RunSettingsDialog;
};

class TCV_AudioMixer {
 public:
  // Builds the window's state in the order of FormCreate and wires the widgets' events.
  TCV_AudioMixer(const MainWindowWidgets& widgets, MainWindowServices services);
  virtual ~TCV_AudioMixer();

  TCV_AudioMixer(const TCV_AudioMixer&) = delete;
  TCV_AudioMixer& operator=(const TCV_AudioMixer&) = delete;

  void FormSetSize();
  void WorkTick();
  // The sound card's device has returned blocks: collects and delivers them.
  void BlocksReady();
  void SBSettingsClick();
  void SkinFrameMinimize();
  void SkinFrameRestore();
  void TrayIconDblClick();
  // The close request; false keeps the window open.
  bool FormClose();
  // The session is ending (SIGTERM, SIGHUP, the session manager's quit): close without asking.
  void WMSystem_Shutdown_Query();
  // The handler of the command message from controlling programs.
  virtual void ReceiveCMD(link::TMessage& message);
  // The level gauge follows the display fader: its value cut to a whole percentage.
  void ShowMixerValue(mixer::TCVFader& sender, double value);

  bool WorkTimerEnabled() const { return Timer->Enabled(); }
  int32_t WorkTimerInterval() const { return Timer->Interval(); }

  int64_t NextCardCheck = 0;
  int64_t CardWaitStart = 0;
  int64_t CardDeadline = 0;
  int64_t NextMixerCheck = 0;
  int64_t MixerWaitStart = 0;
  int64_t MixerDeadline = 0;
  int64_t NowMs = 0;
  bool MuteWanted = false;
  // The detector's last verdict was silence; a new detector starts from sound.
  bool AirSilent = false;
  bool AskOnClose = true;
  std::array<int32_t, 2> MixerDeviceIndex{-1, -1};
  std::array<int32_t, 2> LineIds{-1, -1};
  std::unique_ptr<link::TWinMSG> CommandChannel;
  // Created by the device checks while a device is in use; none otherwise.
  std::unique_ptr<audio::TWaveCapture> Capture;
  std::unique_ptr<audio::TSilence> Detector;
  std::unique_ptr<mixer::TCVMixer> LineMixer;
  // Moves SGLevel to 0 % on every mute and to 100 % on every restore, with the lines' fade time.
  std::unique_ptr<mixer::TCVFader> LevelFader;

 protected:
  // Sound-card supervision (CardSupervision.cpp).
  virtual bool CheckWCapture();
  bool TryStartWCapture();
  void WaveData(audio::TWaveCapture& sender, const char* data, int32_t count);
  void WaveError(audio::TWaveCapture& sender, uint32_t code);
  void SilenceFound(audio::TSilence& sender, uint8_t verdict);
  void ImgLedClick();

  // Mixer supervision (MixerSupervision.cpp).
  virtual bool CheckMixer();
  // Opens the chosen mixer lines in the line controller again.
  virtual bool TryStartMixer();
  bool CheckMixerLine(const std::vector<std::string>& deviceNames, int element);
  void DrawMixerWait();
  void StartMixerLines();
  // The single road of every mute and restore of the lines.
  virtual void SetMute(bool mute, bool immediate);
  void MixerChangeDevices();
  void LabSilenceDblClick();

  // Interactive mode (InteractiveMode.cpp).
  void Run_Source(bool restore);
  void Stop_Source(bool mute);
  // The answer to a controlling program's question for the verdict (link::VERDICT_*).
  int32_t CurrentVerdict() const;

 private:
  void FormCreate();
  // Starts the work timer for a first tick soon (the checks that are due run on it).
  void StartWorkTimer();
  void ReleaseCapture();
  void ReleaseDetector();
  // Destroys the line controller and forgets the ids of its lines.
  void ReleaseLineMixer();
  // A new "Wait device" period for the mixer from this tick on.
  void StartMixerWait();
  // Starts the "Wait device" period of the sound card at this tick's clock.
  void StartCardWait();
  void ShowCardStatus(const std::string& word, ui::Color color);
  // Sends a notification to every connected peer, while the command channel exists.
  void NotifyPeers(uint16_t code, uint16_t argument);

  MainWindowWidgets w_;
  MainWindowServices services_;
  Engine engine_;
  std::unique_ptr<platform::Timer> Timer;
  bool closing_ = false;
};

}  // namespace calvora::app
