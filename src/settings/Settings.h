#pragma once
// The one settings record of the program, its INI store and the autostart entry.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/ProfileFile.h"
#include "platform/RunKeys.h"

namespace calvora::settings {

// One mixer line chosen by the user: the device by name, the root and line by position.
struct MixerLineChoice {
  std::string Device;  // at most 255 characters
  int32_t Root = 0;
  int32_t Line = 0;
  int32_t Level = 0;  // volume 0..65535 the line is restored to
  friend bool operator==(const MixerLineChoice&, const MixerLineChoice&) = default;
};

// Field order is the order of the store; the record is copied as a whole to snapshot it.
struct SettingsRecord {
  int16_t PID = 0;
  bool Hide = false;
  bool UseSoundCard = false;
  bool UseMixer = false;
  bool SourceMode = false;
  std::string Card;  // at most 255 characters
  int32_t Bitrate = 0;
  double SilenceLevel = 0;
  double SilenceTime = 0;
  double RestoreTime = 0;
  int32_t CardWait = 0;
  bool LRControl = false;
  bool OnlyDown = false;
  double FadeOut = 0;
  double FadeIn = 0;
  int32_t MixerWait = 0;
  bool SetLevel = false;
  std::array<MixerLineChoice, 2> Lines;
  friend bool operator==(const SettingsRecord&, const SettingsRecord&) = default;
};

// The record every part of the program reads; written only by the settings dialog.
extern SettingsRecord Settings;

// Set by the dialog when it changes what a running device depends on; cleared by the main
// window when it has acted on them.
extern bool CardChanged;
extern bool MixerDeviceChanged;
extern bool MixerLinesChanged;
extern bool MixerLevelChanged;

// True after the mixer lines were muted, false after they were restored.
extern bool LinesMuted;

// The sample rates offered for the sound card, in list order.
inline constexpr std::array<int32_t, 3> SampleRates{48000, 44100, 32000};

// The sample rate at a list position; 48000 for a negative position (nothing chosen).
int32_t BitrateByIndex(int32_t index);

// Reads and writes the record in the INI file and the autostart entry in the user's
// login programs. Errors are shown through showError (the application's error box).
class SettingsStore {
 public:
  using ErrorBox = std::function<void(const std::string& message)>;

  SettingsStore(platform::ProfileFile& ini, platform::RunKeys& runKeys, std::string executablePath,
                ErrorBox showError);

  // Clears the record, reads every key with its default; true when the file existed.
  bool LoadSettings();
  // Writes every key in order in one replacement of the file. When a key cannot be written,
  // nothing is, "Unable to write to <path>" is shown and the result is false.
  bool SaveSettings();

  bool IsAutoStart();
  void SetAutoStart(bool on);

  // Copies the record aside, runs the dialog modally and puts the copy back unless the
  // dialog returned true (it does so only after a successful save). The change flags are
  // not part of the copy.
  bool EditSettings(const std::function<bool()>& runDialogModal);

  const std::string& ExecutablePath() const { return executablePath_; }

 private:
  platform::ProfileFile& ini_;
  platform::RunKeys& runKeys_;
  std::string executablePath_;
  ErrorBox showError_;
};

}  // namespace calvora::settings
