#include "settings/Fr_Setting.h"

#include <cmath>
#include <limits>

#include "platform/Utf8Text.h"

namespace calvora::settings {

int32_t TruncToInt(double value) {
  if (std::isnan(value))
    return 0;
  constexpr double kLow = std::numeric_limits<int32_t>::min();
  constexpr double kHigh = std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(std::trunc(std::fmin(std::fmax(value, kLow), kHigh)));
}

TFSetting::TFSetting(const SettingWidgets& widgets, SettingServices services)
    : w_(widgets), services_(std::move(services)) {
  w_.SSilence.OnChange = [this] { SSilenceChange(); };
  w_.SBSave.OnClick = [this] { SBSaveClick(); };

  std::vector<std::string> rates;
  for (const int32_t rate : SampleRates)
    rates.push_back(std::to_string(rate));
  w_.CBBitrate.SetItems(rates);

  CardLister = std::make_unique<audio::TWaveCapture>(services_.WaveInput);
  std::vector<std::string> cards;
  for (int32_t i = 0; i < CardLister->DeviceCount(); ++i)
    cards.push_back(CardLister->DeviceName(i));
  w_.CBCard.SetItems(cards);
  w_.CBCard.Select(w_.CBCard.IndexOfIgnoringCase(Settings.Card));

  CreateMixerGroup();
  Fill_Settings();
}

TFSetting::~TFSetting() {
  DetachHandlers();
  CardLister.reset();
  ReleaseDialogMixer();
}

void TFSetting::DetachHandlers() {
  w_.SSilence.OnChange = nullptr;
  w_.SBSave.OnClick = nullptr;
  w_.CBSeparately.OnClick = nullptr;
  w_.SBEqual.OnClick = nullptr;
  for (int side = 0; side < 2; ++side) {
    Side s = SideOf(side);
    s.Device.OnChange = nullptr;
    s.Root.OnChange = nullptr;
    s.Line.OnChange = nullptr;
    s.Level.OnChange = nullptr;
  }
}

void TFSetting::Fill_Settings() {
  w_.EPID.SetValue(Settings.PID);
  w_.CBAutoStart.SetChecked(services_.Store.IsAutoStart());
  w_.CBHide.SetChecked(Settings.Hide);
  w_.CBSourceMode.SetChecked(Settings.SourceMode);
  w_.GBCard.SetChecked(Settings.UseSoundCard);
  w_.GBMixer.SetChecked(Settings.UseMixer);
  // Truncated, not rounded; the label is brought up to date even when the value stays.
  w_.SSilence.SetPosition(TruncToInt(Settings.SilenceLevel));
  SSilenceChange();
  w_.ESilenceTime.SetValue(Settings.SilenceTime);
  w_.ERestoreTime.SetValue(Settings.RestoreTime);
  w_.ECardWait.SetValue(Settings.CardWait);
  SetCombobox(w_.CBBitrate, std::to_string(Settings.Bitrate), 0);
  FillMixerGroup();
}

void TFSetting::SSilenceChange() {
  w_.LSilence.SetText(std::to_string(w_.SSilence.Position()) + " dB");
}

int TFSetting::SetCombobox(ui::DropDownList& list, const std::string& text, int fallback) {
  const int index = list.IndexOf(text);
  if (index >= 0) {
    list.SelectQuietly(index);
    return index;
  }
  if (fallback >= 0)
    list.SelectQuietly(fallback);
  return fallback;
}

void TFSetting::SetString(std::string& field, size_t maxLength, bool& flag,
                          const std::string& text) {
  if (field == text)
    return;
  flag = true;
  field = platform::CutToBytes(text, maxLength);
}

void TFSetting::SetInteger(int32_t& field, int32_t value, bool& flag) {
  if (field == value)
    return;
  flag = true;
  field = value;
}

void TFSetting::SBSaveClick() {
  // Each step shows its own message when it stops; what earlier steps applied stays in the
  // record until a later save or until the dialog is closed without saving.
  if (!Apply_MainSetting() || !Apply_CardSetting() || !Apply_MixerSetting())
    return;
  // A file that cannot be written has shown its error; the dialog stays open.
  if (!services_.Store.SaveSettings())
    return;
  w_.Form.EndModal(true);
}

bool TFSetting::Apply_MainSetting() {
  const int32_t pid = TruncToInt(w_.EPID.Value());
  if (pid < 1 && w_.CBSourceMode.Checked()) {
    Error("The program ID (PID) must not be equal 0");
    return false;
  }
  Settings.PID = static_cast<int16_t>(pid);
  services_.Store.SetAutoStart(w_.CBAutoStart.Checked());
  Settings.Hide = w_.CBHide.Checked();
  Settings.SourceMode = w_.CBSourceMode.Checked();
  Settings.UseSoundCard = w_.GBCard.Checked();
  Settings.UseMixer = w_.GBMixer.Checked();
  // Lines are never faded up at start in interactive mode: the controlling program decides.
  if (Settings.SourceMode)
    w_.CBSetLevel.SetChecked(false);
  return true;
}

bool TFSetting::Apply_CardSetting() {
  if (w_.GBCard.Checked()) {
    if (w_.CBCard.ItemIndex() < 0) {
      Error("Select sound card!");
      return false;
    }
    SetString(Settings.Card, kMaxTextLength, CardChanged, w_.CBCard.SelectedText());
  } else {
    if (!Settings.Card.empty())
      CardChanged = true;
    Settings.Card.clear();
    Settings.Bitrate = 0;
    Settings.SilenceLevel = 0;
    Settings.SilenceTime = 0;
    Settings.RestoreTime = 0;
    Settings.CardWait = 0;
    SetCombobox(w_.CBBitrate, "48000", 0);
  }
  SetInteger(Settings.Bitrate, BitrateByIndex(w_.CBBitrate.ItemIndex()), CardChanged);
  Settings.SilenceLevel = w_.SSilence.Position();
  Settings.SilenceTime = w_.ESilenceTime.Value();
  Settings.RestoreTime = w_.ERestoreTime.Value();
  Settings.CardWait = TruncToInt(w_.ECardWait.Value());
  return true;
}

}  // namespace calvora::settings
