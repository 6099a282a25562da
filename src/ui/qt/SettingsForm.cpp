#include "ui/qt/SettingsForm.h"

#include <QFrame>
#include <QGuiApplication>
#include <QScreen>

namespace calvora::ui::qt {

namespace {

template <typename T>
T* Placed(T* widget, const char* name, const Box& box) {
  widget->setObjectName(name);
  widget->setGeometry(box.left, box.top, box.width, box.height);
  return widget;
}

void Caption(const TextBox& caption, QWidget* parent) {
  auto* label = new QLabel(caption.text, parent);
  label->setGeometry(caption.box.left, caption.box.top, caption.box.width, caption.box.height);
}

QtSpinEdit* PlacedSpinEdit(const SpinBox& spin, const char* name, QWidget* parent) {
  return Placed(new QtSpinEdit(spin.minimum, spin.maximum, spin.decimals, spin.value, parent), name,
                spin.box);
}

QtSlider* PlacedSlider(const SliderBox& slider, const char* name, QWidget* parent) {
  return Placed(new QtSlider(slider.minimum, slider.maximum, slider.step, slider.position, parent),
                name, slider.box);
}

template <typename T>
T* PlacedWithText(const TextBox& widget, const char* name, QWidget* parent) {
  return Placed(new T(widget.text, parent), name, widget.box);
}

}  // namespace

SettingsForm::SettingsForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      MSG(this, "Calvora Audio Mixer") {
  setObjectName("TFSetting");
  setWindowTitle(kTitle);
  setModal(true);
  setFixedSize(kClientWidth, kClientHeight);

  GBMain = Placed(new QGroupBox(kGBMainTitle, this), "GBMain", {0, 0, kClientWidth, kGBMainHeight});
  CBSourceMode = PlacedWithText<QtCheckBox>(kCBSourceMode, "CBSourceMode", GBMain);
  CBSourceMode->setToolTip(kCBSourceModeHint);
  EPID = PlacedSpinEdit(kEPID, "EPID", GBMain);
  CBAutoStart = PlacedWithText<QtCheckBox>(kCBAutoStart, "CBAutoStart", GBMain);
  CBHide = PlacedWithText<QtCheckBox>(kCBHide, "CBHide", GBMain);

  GBCard = Placed(new QtCheckGroup(kGBCardTitle, this), "GBCard",
                  {0, kGBCardTop, kClientWidth, kGBCardHeight});
  CBCard = Placed(new QtDropDownList(GBCard), "CBCard", kCBCard);
  CBBitrate = Placed(new QtDropDownList(GBCard), "CBBitrate", kCBBitrate);
  Caption(kSilenceLevelCaption, GBCard);
  SSilence = PlacedSlider(kSSilence, "SSilence", GBCard);
  LSilence = PlacedWithText<QtLabel>(kLSilence, "LSilence", GBCard);
  Caption(kSilenceTimeCaption, GBCard);
  ESilenceTime = PlacedSpinEdit(kESilenceTime, "ESilenceTime", GBCard);
  Caption(kRestoreTimeCaption, GBCard);
  ERestoreTime = PlacedSpinEdit(kERestoreTime, "ERestoreTime", GBCard);
  Caption(kCardWaitCaption, GBCard);
  ECardWait = PlacedSpinEdit(kECardWait, "ECardWait", GBCard);

  GBMixer = Placed(new QtCheckGroup(kGBMixerTitle, this), "GBMixer",
                   {0, kGBMixerTop, kClientWidth, kGBMixerHeight});
  CBSeparately = PlacedWithText<QtCheckBox>(kCBSeparately, "CBSeparately", GBMixer);
  CBMuteOnly = PlacedWithText<QtCheckBox>(kCBMuteOnly, "CBMuteOnly", GBMixer);
  CBSetLevel = PlacedWithText<QtCheckBox>(kCBSetLevel, "CBSetLevel", GBMixer);
  Caption(kDeviceCaption, GBMixer);
  CBDevice_L = Placed(new QtDropDownList(GBMixer), "CBDevice_L", kCBDevice_L);
  CBDevice_R = Placed(new QtDropDownList(GBMixer), "CBDevice_R", kCBDevice_R);
  Caption(kRootCaption, GBMixer);
  CBRoot_L = Placed(new QtDropDownList(GBMixer), "CBRoot_L", kCBRoot_L);
  CBRoot_R = Placed(new QtDropDownList(GBMixer), "CBRoot_R", kCBRoot_R);
  Caption(kLineCaption, GBMixer);
  CBLine_L = Placed(new QtDropDownList(GBMixer), "CBLine_L", kCBLine_L);
  CBLine_R = Placed(new QtDropDownList(GBMixer), "CBLine_R", kCBLine_R);
  Caption(kLevelCaption, GBMixer);
  TBLevel_L = PlacedSlider(kTBLevel_L, "TBLevel_L", GBMixer);
  SBEqual = PlacedWithText<QtSpeedButton>(kSBEqual, "SBEqual", GBMixer);
  TBLevel_R = PlacedSlider(kTBLevel_R, "TBLevel_R", GBMixer);
  Caption(kFadeOutCaption, GBMixer);
  EFadeOut = PlacedSpinEdit(kEFadeOut, "EFadeOut", GBMixer);
  Caption(kFadeInCaption, GBMixer);
  EFadeIn = PlacedSpinEdit(kEFadeIn, "EFadeIn", GBMixer);
  Caption(kMixerWaitCaption, GBMixer);
  EMixerWait = PlacedSpinEdit(kEMixerWait, "EMixerWait", GBMixer);

  PanSave = Placed(new QFrame(this), "PanSave", {0, kPanSaveTop, kClientWidth, kPanSaveHeight});
  SBSave = PlacedWithText<QtButton>(kSBSave, "SBSave", PanSave);
  SBSave->setDefault(false);
  SBSave->setAutoDefault(false);

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
  }
}

}  // namespace calvora::ui::qt
