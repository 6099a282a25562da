#include "ui/qt/SettingsForm.h"

#include <QFrame>
#include <QGuiApplication>
#include <QScreen>

namespace calvora::ui::qt {

namespace {

constexpr int kRowHeight = 22;
constexpr int kLeftColumn = 52;
constexpr int kRightColumn = 248;
constexpr int kColumnWidth = 180;

template <typename T>
T* Placed(T* widget, const char* name, int x, int y, int width, int height = kRowHeight) {
  widget->setObjectName(name);
  widget->setGeometry(x, y, width, height);
  return widget;
}

QLabel* Caption(const QString& text, QWidget* parent, int x, int y, int width) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(x, y, width, kRowHeight);
  return label;
}

}  // namespace

SettingsForm::SettingsForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      MSG(this, "Calvora Audio Mixer") {
  setObjectName("TFSetting");
  setWindowTitle("Settings");
  setModal(true);
  setFixedSize(kClientWidth, kClientHeight);

  GBMain = Placed(new QGroupBox("Main", this), "GBMain", 0, 0, kClientWidth, kGBMainHeight);
  CBSourceMode =
      Placed(new QtCheckBox("Interactive mode. Program ID", GBMain), "CBSourceMode", 8, 24, 188);
  CBSourceMode->setToolTip("Start and wait command");
  EPID = Placed(new QtSpinEdit(0, 32767, 0, 0, GBMain), "EPID", 198, 24, 66);
  CBAutoStart = Placed(new QtCheckBox("Autostart", GBMain), "CBAutoStart", 276, 24, 74);
  CBHide = Placed(new QtCheckBox("Hide to tray", GBMain), "CBHide", 350, 24, 84);

  const int cardTop = kGBMainHeight;
  const int cardHeight = kClientHeight - kGBMainHeight - kGBMixerHeight - kPanSaveHeight;
  GBCard = Placed(new QtCheckGroup("Use soundcard", this), "GBCard", 0, cardTop, kClientWidth,
                  cardHeight);
  CBCard = Placed(new QtDropDownList(GBCard), "CBCard", 8, 22, 340);
  CBBitrate = Placed(new QtDropDownList(GBCard), "CBBitrate", 350, 22, 84);
  Caption("Silence level (dB)", GBCard, 8, 54, 110);
  SSilence = Placed(new QtSlider(-42, -12, 1, -38, GBCard), "SSilence", 120, 54, 236);
  LSilence = Placed(new QtLabel("-38 dB", GBCard), "LSilence", 362, 54, 66);
  Caption("Silence time (sec)", GBCard, 8, 86, 104);
  ESilenceTime = Placed(new QtSpinEdit(0, 30, 1, 0, GBCard), "ESilenceTime", 110, 86, 54);
  Caption("Restore time", GBCard, 172, 86, 76);
  ERestoreTime = Placed(new QtSpinEdit(0, 30, 1, 0, GBCard), "ERestoreTime", 248, 86, 54);
  Caption("Wait device", GBCard, 310, 86, 68);
  ECardWait = Placed(new QtSpinEdit(5, 180, 0, 10, GBCard), "ECardWait", 378, 86, 52);

  const int mixerTop = kClientHeight - kPanSaveHeight - kGBMixerHeight;
  GBMixer = Placed(new QtCheckGroup("Use mixer", this), "GBMixer", 0, mixerTop, kClientWidth,
                   kGBMixerHeight);
  CBSeparately = Placed(new QtCheckBox("Separately contol", GBMixer), "CBSeparately", 8, 20, 124);
  CBMuteOnly =
      Placed(new QtCheckBox("Mute line only volume down", GBMixer), "CBMuteOnly", 134, 20, 178);
  CBSetLevel = Placed(new QtCheckBox("Set level with start", GBMixer), "CBSetLevel", 312, 20, 122);
  Caption("Device", GBMixer, 8, 46, 44);
  CBDevice_L = Placed(new QtDropDownList(GBMixer), "CBDevice_L", kLeftColumn, 46, kColumnWidth);
  CBDevice_R = Placed(new QtDropDownList(GBMixer), "CBDevice_R", kRightColumn, 46, kColumnWidth);
  Caption("Root", GBMixer, 8, 72, 44);
  CBRoot_L = Placed(new QtDropDownList(GBMixer), "CBRoot_L", kLeftColumn, 72, kColumnWidth);
  CBRoot_R = Placed(new QtDropDownList(GBMixer), "CBRoot_R", kRightColumn, 72, kColumnWidth);
  Caption("Line", GBMixer, 8, 98, 44);
  CBLine_L = Placed(new QtDropDownList(GBMixer), "CBLine_L", kLeftColumn, 98, kColumnWidth);
  CBLine_R = Placed(new QtDropDownList(GBMixer), "CBLine_R", kRightColumn, 98, kColumnWidth);
  Caption("Level", GBMixer, 8, 126, 40);
  TBLevel_L = Placed(new QtSlider(0, 255, 5, 255, GBMixer), "TBLevel_L", 48, 126, kColumnWidth);
  SBEqual = Placed(new QtSpeedButton("=", GBMixer), "SBEqual", 230, 126, 16);
  TBLevel_R =
      Placed(new QtSlider(0, 255, 5, 255, GBMixer), "TBLevel_R", kRightColumn, 126, kColumnWidth);
  Caption("Fade out (sec)", GBMixer, 8, 168, 84);
  EFadeOut = Placed(new QtSpinEdit(0, 10, 1, 0, GBMixer), "EFadeOut", 92, 168, 54);
  Caption("Fade in (sec)", GBMixer, 156, 168, 76);
  EFadeIn = Placed(new QtSpinEdit(0, 10, 1, 0, GBMixer), "EFadeIn", 232, 168, 54);
  Caption("Wait device", GBMixer, 300, 168, 72);
  EMixerWait = Placed(new QtSpinEdit(5, 180, 0, 10, GBMixer), "EMixerWait", 372, 168, 58);

  PanSave = Placed(new QFrame(this), "PanSave", 0, kClientHeight - kPanSaveHeight, kClientWidth,
                   kPanSaveHeight);
  SBSave =
      Placed(new QtButton("Save settings", PanSave), "SBSave", kClientWidth - 8 - 120, 5, 120, 25);
  SBSave->setDefault(false);
  SBSave->setAutoDefault(false);

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
  }
}

}  // namespace calvora::ui::qt
