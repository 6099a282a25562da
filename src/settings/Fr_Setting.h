#pragma once
// The settings dialog: shows the settings record in the groups "Main", "Use soundcard" and
// "Use mixer", checks and applies them at "Save settings", raises the change flags for what
// changed and writes the INI file. The mixer group previews a chosen line's level through the
// dialog's own line controller while a level slider moves.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/WaveCapture.h"
#include "mixer/CVMixer.h"
#include "platform/Clock.h"
#include "platform/MixerDevices.h"
#include "platform/Timers.h"
#include "platform/WaveInput.h"
#include "settings/Settings.h"
#include "ui/Button.h"
#include "ui/CheckBox.h"
#include "ui/Dialog.h"
#include "ui/DropDownList.h"
#include "ui/Label.h"
#include "ui/MessageBox.h"
#include "ui/SettingsFormLayout.h"
#include "ui/Slider.h"
#include "ui/SpeedButton.h"
#include "ui/SpinEdit.h"

namespace calvora::settings {

// The dialog's widgets, by the roles its logic uses.
struct SettingWidgets {
  ui::Dialog& Form;
  ui::MessageBox& MSG;
  // "Main"
  ui::CheckBox& CBSourceMode;
  ui::SpinEdit& EPID;
  ui::CheckBox& CBAutoStart;
  ui::CheckBox& CBHide;
  // "Use soundcard"
  ui::CheckGroup& GBCard;
  ui::DropDownList& CBCard;
  ui::DropDownList& CBBitrate;
  ui::Slider& SSilence;
  ui::Label& LSilence;
  ui::SpinEdit& ESilenceTime;
  ui::SpinEdit& ERestoreTime;
  ui::SpinEdit& ECardWait;
  // "Use mixer"
  ui::CheckGroup& GBMixer;
  ui::CheckBox& CBSeparately;
  ui::CheckBox& CBMuteOnly;
  ui::CheckBox& CBSetLevel;
  ui::DropDownList& CBDevice_L;
  ui::DropDownList& CBDevice_R;
  ui::DropDownList& CBRoot_L;
  ui::DropDownList& CBRoot_R;
  ui::DropDownList& CBLine_L;
  ui::DropDownList& CBLine_R;
  ui::Slider& TBLevel_L;
  ui::Slider& TBLevel_R;
  ui::SpeedButton& SBEqual;
  ui::SpinEdit& EFadeOut;
  ui::SpinEdit& EFadeIn;
  ui::SpinEdit& EMixerWait;
  ui::Button& SBSave;
};

// What the dialog runs on.
struct SettingServices {
  platform::WaveInput& WaveInput;
  platform::MixerDevices& MixerDevices;
  platform::Clock& Clock;
  platform::Timers& Timers;
  SettingsStore& Store;
  // The main window's mixer line controller at this moment, or none. Its lines are protected
  // from the level preview, and its device tree is rebuilt when the dialog's controller goes.
  std::function<mixer::TCVMixer*()> MainLineMixer;
};

class TFSetting {
 public:
  // Column width of the left line choice while the right one is shown.
  static constexpr int kColumnWidth = ui::SettingsFormLayout::kColumnWidth;
  // Longest text stored in a text field of the record, in bytes.
  static constexpr size_t kMaxTextLength = 255;

  // Builds the lists and fills the controls (FormCreate).
  TFSetting(const SettingWidgets& widgets, SettingServices services);
  // Frees the device lister and releases the dialog's line controller, leaving the main
  // window's controller with a complete device tree.
  ~TFSetting();
  TFSetting(const TFSetting&) = delete;
  TFSetting& operator=(const TFSetting&) = delete;

  void Fill_Settings();
  void SBSaveClick();
  bool Apply_MainSetting();
  bool Apply_CardSetting();
  bool Apply_MixerSetting();
  void SSilenceChange();

  // Selects the first item exactly equal to the text and returns its index; otherwise the
  // fallback when it is 0 or more. No change handler runs.
  static int SetCombobox(ui::DropDownList& list, const std::string& text, int fallback);
  // Stores a differing text (exact comparison), cut to maxLength bytes, and raises the flag.
  static void SetString(std::string& field, size_t maxLength, bool& flag, const std::string& text);
  // Stores a differing value and raises the flag.
  static void SetInteger(int32_t& field, int32_t value, bool& flag);

  // The mixer group (Fr_SettingMixer.cpp). Side 0 is the left line choice, 1 the right.
  void CBSeparatelyClick();
  void DeviceChange(int side);
  void FillRoot(ui::DropDownList& roots, ui::DropDownList& lines, int32_t preferredRoot,
                int32_t device);
  void RootChange(int side);
  void LineChange(int side);
  void LevelChange(int side);
  void SBEqualClick();
  // Whether the line chosen on the side is one the main window controls.
  bool LineInUse(int side);

  std::unique_ptr<audio::TWaveCapture> CardLister;
  std::unique_ptr<mixer::TCVMixer> DialogMixer;
  // The preview line of each side in DialogMixer; 0 at creation, which no line has.
  int32_t PreviewLeft = 0;
  int32_t PreviewRight = 0;

 private:
  // The lists, slider and preview id of one side of the mixer group.
  struct Side {
    ui::DropDownList& Device;
    ui::DropDownList& Root;
    ui::DropDownList& Line;
    ui::Slider& Level;
    int32_t& Preview;
  };
  Side SideOf(int side);
  void CreateMixerGroup();
  // The widgets outlive the dialog's logic: their handlers are taken off first.
  void DetachHandlers();
  void FillMixerGroup();
  void ReleaseDialogMixer();
  void Error(const std::string& text) { w_.MSG.ShowError(text); }

  SettingWidgets w_;
  SettingServices services_;
};

// Whole part of a number, toward zero, held inside the 32-bit range.
int32_t TruncToInt(double value);

}  // namespace calvora::settings
