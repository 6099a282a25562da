// The "Use mixer" group of the settings dialog: the device, root and line chains of both line
// choices, the level preview through the dialog's own line controller, and its apply step.
#include <algorithm>

#include "mixer/MixerXP.h"
#include "platform/Utf8Text.h"
#include "settings/Fr_Setting.h"

namespace calvora::settings {

namespace {
constexpr int32_t kVolumeStep = 257;  // one slider step in device volume units
constexpr int32_t kMaxVolume = 65535;
}  // namespace

TFSetting::Side TFSetting::SideOf(int side) {
  if (side == 0)
    return {w_.CBDevice_L, w_.CBRoot_L, w_.CBLine_L, w_.TBLevel_L, PreviewLeft};
  return {w_.CBDevice_R, w_.CBRoot_R, w_.CBLine_R, w_.TBLevel_R, PreviewRight};
}

void TFSetting::CreateMixerGroup() {
  for (int side = 0; side < 2; ++side) {
    Side s = SideOf(side);
    s.Device.OnChange = [this, side] { DeviceChange(side); };
    s.Root.OnChange = [this, side] { RootChange(side); };
    s.Line.OnChange = [this, side] { LineChange(side); };
    s.Level.OnChange = [this, side] { LevelChange(side); };
  }
  w_.CBSeparately.OnClick = [this] { CBSeparatelyClick(); };
  w_.SBEqual.OnClick = [this] { SBEqualClick(); };

  // Creating and opening a controller rebuilds the process-wide device tree, also under the
  // main window's controller.
  DialogMixer =
      std::make_unique<mixer::TCVMixer>(services_.MixerDevices, services_.Clock, services_.Timers);
  DialogMixer->SetActive(true);
  std::vector<std::string> devices;
  DialogMixer->GetDeviceNames(devices);
  w_.CBDevice_L.SetItems(devices);
  w_.CBDevice_R.SetItems(devices);
}

void TFSetting::ReleaseDialogMixer() {
  if (!DialogMixer)
    return;
  // Closing the controller frees the device tree it shares with the main window's controller;
  // that one is given the same tree again, so its lines keep fading and muting.
  DialogMixer.reset();
  mixer::TCVMixer* mainMixer = services_.MainLineMixer ? services_.MainLineMixer() : nullptr;
  if (!mainMixer)
    return;
  mixer::LoadMixerDevices(services_.MixerDevices);
  if (mainMixer->Active())
    mixer::LoadMixerLines();
}

void TFSetting::FillMixerGroup() {
  // The device selections open the root and line chains; the right one runs even while the
  // right column is hidden.
  w_.CBDevice_L.Select(w_.CBDevice_L.IndexOfIgnoringCase(Settings.Lines[0].Device));
  w_.CBDevice_R.Select(w_.CBDevice_R.IndexOfIgnoringCase(Settings.Lines[1].Device));
  w_.CBSeparately.SetChecked(Settings.LRControl);
  CBSeparatelyClick();
  w_.CBMuteOnly.SetChecked(Settings.OnlyDown);
  w_.CBSetLevel.SetChecked(Settings.SetLevel);
  // A preview line opened above takes the stored level at once when the slider moves.
  w_.TBLevel_L.SetPosition(Settings.Lines[0].Level / kVolumeStep);
  w_.TBLevel_R.SetPosition(Settings.Lines[1].Level / kVolumeStep);
  w_.EFadeOut.SetValue(Settings.FadeOut);
  w_.EFadeIn.SetValue(Settings.FadeIn);
  w_.EMixerWait.SetValue(Settings.MixerWait);
}

void TFSetting::CBSeparatelyClick() {
  const bool separately = w_.CBSeparately.Checked();
  w_.CBDevice_R.SetVisible(separately);
  w_.CBRoot_R.SetVisible(separately);
  w_.CBLine_R.SetVisible(separately);
  w_.TBLevel_R.SetVisible(separately);
  w_.SBEqual.SetVisible(separately);
  // Alone, the left column spans the group.
  const int width = separately ? kColumnWidth : w_.GBMixer.ClientWidth() - w_.CBDevice_L.Left() - 4;
  w_.CBDevice_L.SetWidth(width);
  w_.CBRoot_L.SetWidth(width);
  w_.CBLine_L.SetWidth(width);
  w_.TBLevel_L.SetWidth(width);
}

void TFSetting::DeviceChange(int side) {
  Side s = SideOf(side);
  s.Root.Clear();
  if (s.Device.ItemIndex() < 0)
    return;
  MixerLineChoice& choice = Settings.Lines[static_cast<size_t>(side)];
  choice.Device = platform::CutToBytes(s.Device.SelectedText(), kMaxTextLength);
  FillRoot(s.Root, s.Line, choice.Root, s.Device.ItemIndex());
}

void TFSetting::FillRoot(ui::DropDownList& roots, ui::DropDownList& lines, int32_t preferredRoot,
                         int32_t device) {
  std::vector<std::string> names;
  DialogMixer->GetRootNames(device, names);
  roots.SetItems(names);
  if (preferredRoot >= 0 && preferredRoot < roots.Count())
    roots.Select(preferredRoot);
  else
    lines.Clear();
}

void TFSetting::RootChange(int side) {
  Side s = SideOf(side);
  s.Line.Clear();
  if (s.Device.ItemIndex() < 0 || s.Root.ItemIndex() < 0)
    return;
  std::vector<std::string> names;
  DialogMixer->GetLineNames(s.Device.ItemIndex(), s.Root.ItemIndex(), names);
  s.Line.SetItems(names);
  // The stored line position is chosen again under whatever root the user picked.
  const int32_t stored = Settings.Lines[static_cast<size_t>(side)].Line;
  s.Line.Select(stored >= 0 && stored < s.Line.Count() ? stored : -1);
}

void TFSetting::LineChange(int side) {
  Side s = SideOf(side);
  if (s.Line.ItemIndex() < 0)
    return;
  if (s.Preview >= 0)
    DialogMixer->RemoveLine(s.Preview);
  s.Preview = DialogMixer->AddLine(0, s.Device.ItemIndex(), s.Root.ItemIndex(), s.Line.ItemIndex());
  if (LineInUse(side))
    return;
  // The slider shows the line's present volume; moving it writes that back, rounded down to
  // a whole slider step.
  s.Level.SetPosition(DialogMixer->GetLevel(s.Preview) / kVolumeStep);
}

void TFSetting::LevelChange(int side) {
  Side s = SideOf(side);
  // A line the main window holds muted stays silent.
  if (LineInUse(side) && LinesMuted)
    return;
  if (!DialogMixer || !DialogMixer->Active())
    return;
  DialogMixer->FadeTo(s.Preview, std::min(s.Level.Position() * kVolumeStep, kMaxVolume), 0);
}

void TFSetting::SBEqualClick() {
  w_.TBLevel_R.SetPosition(w_.TBLevel_L.Position());
}

bool TFSetting::LineInUse(int side) {
  if (!services_.MainLineMixer || !services_.MainLineMixer())
    return false;
  Side s = SideOf(side);
  const std::string device = s.Device.SelectedText();
  const int32_t root = s.Root.ItemIndex();
  const int32_t line = s.Line.ItemIndex();
  const auto matches = [&](const MixerLineChoice& choice) {
    return device == choice.Device && root == choice.Root && line == choice.Line;
  };
  // The stored "Separately contol" decides, which changes only at saving.
  return matches(Settings.Lines[0]) || (Settings.LRControl && matches(Settings.Lines[1]));
}

bool TFSetting::Apply_MixerSetting() {
  MixerLineChoice& left = Settings.Lines[0];
  MixerLineChoice& right = Settings.Lines[1];
  if (!Settings.UseMixer) {
    SetString(left.Device, kMaxTextLength, MixerDeviceChanged, std::string());
    Settings.LRControl = false;
    Settings.OnlyDown = false;
    Settings.FadeOut = 0;
    Settings.FadeIn = 0;
    Settings.MixerWait = 0;
    Settings.SetLevel = false;
    Settings.Lines = {};
    return true;
  }

  // Stored before the checks: a refused save keeps them in the record.
  Settings.LRControl = w_.CBSeparately.Checked();
  Settings.OnlyDown = w_.CBMuteOnly.Checked();
  Settings.SetLevel = w_.CBSetLevel.Checked();
  const bool both = Settings.LRControl;
  const auto missing = [both](const ui::DropDownList& l, const ui::DropDownList& r) {
    return l.ItemIndex() < 0 || (both && r.ItemIndex() < 0);
  };
  if (missing(w_.CBDevice_L, w_.CBDevice_R)) {
    Error("Select mixer device");
    return false;
  }
  if (missing(w_.CBRoot_L, w_.CBRoot_R)) {
    Error("Select mixer root line");
    return false;
  }
  if (missing(w_.CBLine_L, w_.CBLine_R)) {
    Error("Select mixer line");
    return false;
  }

  SetString(left.Device, kMaxTextLength, MixerDeviceChanged, w_.CBDevice_L.SelectedText());
  SetString(right.Device, kMaxTextLength, MixerDeviceChanged,
            both ? w_.CBDevice_R.SelectedText() : std::string());
  SetInteger(left.Root, w_.CBRoot_L.ItemIndex(), MixerLinesChanged);
  SetInteger(right.Root, both ? w_.CBRoot_R.ItemIndex() : -1, MixerLinesChanged);
  SetInteger(left.Line, w_.CBLine_L.ItemIndex(), MixerLinesChanged);
  SetInteger(right.Line, both ? w_.CBLine_R.ItemIndex() : -1, MixerLinesChanged);
  SetInteger(left.Level, w_.TBLevel_L.Position() * kVolumeStep, MixerLevelChanged);
  if (both)
    SetInteger(right.Level, w_.TBLevel_R.Position() * kVolumeStep, MixerLevelChanged);
  else
    right.Level = left.Level;
  Settings.FadeOut = w_.EFadeOut.Value();
  Settings.FadeIn = w_.EFadeIn.Value();
  Settings.MixerWait = TruncToInt(w_.EMixerWait.Value());
  return true;
}

}  // namespace calvora::settings
