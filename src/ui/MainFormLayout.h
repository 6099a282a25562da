#pragma once
// Where the main window's widgets sit, the same for the Qt form and the form on native
// controls. The device panels are groups 3 pixels in from the window's edges; a widget's place
// is counted from its group's corner (the settings button's from its panel's).
#include "ui/Box.h"

namespace calvora::ui {

struct MainFormLayout {
  static constexpr int kClientWidth = 438;
  static constexpr int kPanCardHeight = 80;
  static constexpr int kPanMixerHeight = 68;
  static constexpr int kPanSettHeight = 37;
  static constexpr int kLedWidth = 426;
  static constexpr int kLedHeight = 26;
  // The groups' distance from the window's left and right edges.
  static constexpr int kGroupInset = 3;

  // "Soundcard"
  static constexpr Box kSGCard{8, 20, 300, 22};
  static constexpr Box kLabCard{312, 20, 112, 22};
  // The LED meter's black frame; the picture sits one pixel inside it.
  static constexpr Box kLedFrame{4, 47, kLedWidth + 2, kLedHeight + 2};
  // "Mixer"
  static constexpr Box kSGMixer{8, 20, 300, 20};
  static constexpr Box kLabMixer{312, 20, 112, 20};
  static constexpr Box kSGLevel{8, 44, 300, 18};
  static constexpr Box kLabSilence{312, 44, 112, 18};
  // The settings panel along the bottom.
  static constexpr Box kSBSettings{kClientWidth - 8 - 96, 6, 96, 25};
};

}  // namespace calvora::ui
