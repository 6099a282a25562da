#pragma once
// The settings dialog's widgets, the same for the Qt form and the form on native controls:
// where each sits, its text, and the range and value a spin edit or slider starts with. The
// groups span the dialog's width, one under the other; a widget's place is counted from its
// group's corner (the save button's from its panel's).
#include "ui/Box.h"

namespace calvora::ui {

// A widget with a text: a caption, check box, check group, button or label.
struct TextBox {
  const char* text;
  Box box;
};

// A spin edit: its range, its decimals and the value it shows until the settings fill it.
struct SpinBox {
  Box box;
  double minimum;
  double maximum;
  int decimals;
  double value;
};

// A slider: its range, the step of a page, and the position it starts at.
struct SliderBox {
  Box box;
  int minimum;
  int maximum;
  int step;
  int position;
};

struct SettingsFormLayout {
  static constexpr const char* kTitle = "Settings";
  static constexpr int kClientWidth = 437;
  static constexpr int kClientHeight = 424;
  static constexpr int kRowHeight = 22;

  // "Main"
  static constexpr int kGBMainHeight = 57;
  static constexpr const char* kGBMainTitle = "Main";
  static constexpr TextBox kCBSourceMode{"Interactive mode. Program ID", {8, 24, 188, kRowHeight}};
  static constexpr const char* kCBSourceModeHint = "Start and wait command";
  static constexpr SpinBox kEPID{{198, 24, 66, kRowHeight}, 0, 32767, 0, 0};
  static constexpr TextBox kCBAutoStart{"Autostart", {276, 24, 74, kRowHeight}};
  static constexpr TextBox kCBHide{"Hide to tray", {350, 24, 84, kRowHeight}};

  // "Use soundcard", between "Main" and "Use mixer"
  static constexpr int kGBMixerHeight = 213;
  static constexpr int kPanSaveHeight = 35;
  static constexpr int kGBCardTop = kGBMainHeight;
  static constexpr int kGBCardHeight =
      kClientHeight - kGBMainHeight - kGBMixerHeight - kPanSaveHeight;
  static constexpr const char* kGBCardTitle = "Use soundcard";
  static constexpr Box kCBCard{8, 22, 340, kRowHeight};
  static constexpr Box kCBBitrate{350, 22, 84, kRowHeight};
  static constexpr TextBox kSilenceLevelCaption{"Silence level (dB)", {8, 54, 110, kRowHeight}};
  static constexpr SliderBox kSSilence{{120, 54, 236, kRowHeight}, -42, -12, 1, -38};
  static constexpr TextBox kLSilence{"-38 dB", {362, 54, 66, kRowHeight}};
  static constexpr TextBox kSilenceTimeCaption{"Silence time (sec)", {8, 86, 104, kRowHeight}};
  static constexpr SpinBox kESilenceTime{{110, 86, 54, kRowHeight}, 0, 30, 1, 0};
  static constexpr TextBox kRestoreTimeCaption{"Restore time", {172, 86, 76, kRowHeight}};
  static constexpr SpinBox kERestoreTime{{248, 86, 54, kRowHeight}, 0, 30, 1, 0};
  static constexpr TextBox kCardWaitCaption{"Wait device", {310, 86, 68, kRowHeight}};
  static constexpr SpinBox kECardWait{{378, 86, 52, kRowHeight}, 5, 180, 0, 10};

  // "Use mixer", above the save panel: the left and right line choices in two columns.
  static constexpr int kGBMixerTop = kClientHeight - kPanSaveHeight - kGBMixerHeight;
  static constexpr const char* kGBMixerTitle = "Use mixer";
  static constexpr int kLeftColumn = 52;
  static constexpr int kRightColumn = 248;
  // The width of a line choice while the right one is shown.
  static constexpr int kColumnWidth = 180;
  static constexpr TextBox kCBSeparately{"Separately contol", {8, 20, 124, kRowHeight}};
  static constexpr TextBox kCBMuteOnly{"Mute line only volume down", {134, 20, 178, kRowHeight}};
  static constexpr TextBox kCBSetLevel{"Set level with start", {312, 20, 122, kRowHeight}};
  static constexpr TextBox kDeviceCaption{"Device", {8, 46, 44, kRowHeight}};
  static constexpr Box kCBDevice_L{kLeftColumn, 46, kColumnWidth, kRowHeight};
  static constexpr Box kCBDevice_R{kRightColumn, 46, kColumnWidth, kRowHeight};
  static constexpr TextBox kRootCaption{"Root", {8, 72, 44, kRowHeight}};
  static constexpr Box kCBRoot_L{kLeftColumn, 72, kColumnWidth, kRowHeight};
  static constexpr Box kCBRoot_R{kRightColumn, 72, kColumnWidth, kRowHeight};
  static constexpr TextBox kLineCaption{"Line", {8, 98, 44, kRowHeight}};
  static constexpr Box kCBLine_L{kLeftColumn, 98, kColumnWidth, kRowHeight};
  static constexpr Box kCBLine_R{kRightColumn, 98, kColumnWidth, kRowHeight};
  static constexpr TextBox kLevelCaption{"Level", {8, 126, 40, kRowHeight}};
  static constexpr SliderBox kTBLevel_L{{48, 126, kColumnWidth, kRowHeight}, 0, 255, 5, 255};
  static constexpr TextBox kSBEqual{"=", {230, 126, 16, kRowHeight}};
  static constexpr SliderBox kTBLevel_R{
      {kRightColumn, 126, kColumnWidth, kRowHeight}, 0, 255, 5, 255};
  static constexpr TextBox kFadeOutCaption{"Fade out (sec)", {8, 168, 84, kRowHeight}};
  static constexpr SpinBox kEFadeOut{{92, 168, 54, kRowHeight}, 0, 10, 1, 0};
  static constexpr TextBox kFadeInCaption{"Fade in (sec)", {156, 168, 76, kRowHeight}};
  static constexpr SpinBox kEFadeIn{{232, 168, 54, kRowHeight}, 0, 10, 1, 0};
  static constexpr TextBox kMixerWaitCaption{"Wait device", {300, 168, 72, kRowHeight}};
  static constexpr SpinBox kEMixerWait{{372, 168, 58, kRowHeight}, 5, 180, 0, 10};

  // The save panel along the bottom.
  static constexpr int kPanSaveTop = kClientHeight - kPanSaveHeight;
  static constexpr TextBox kSBSave{"Save settings", {kClientWidth - 8 - 120, 5, 120, 25}};
};

}  // namespace calvora::ui
