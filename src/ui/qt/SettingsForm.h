#pragma once
// The settings dialog's form: its widgets, where they sit, and the modal frame with only a
// close button. Closing it by the frame or Escape ends it without the OK result.
#include <QDialog>

#include "ui/Dialog.h"
#include "ui/SettingsFormLayout.h"
#include "ui/qt/QtRoles.h"

class QFrame;

namespace calvora::ui::qt {

class SettingsForm : public QDialog, public Dialog, public SettingsFormLayout {
 public:
  explicit SettingsForm(QWidget* parent);

  // ui::Dialog
  void EndModal(bool ok) override { done(ok ? QDialog::Accepted : QDialog::Rejected); }

  QtMessageBox MSG;
  QGroupBox* GBMain;
  QtCheckBox* CBSourceMode;
  QtSpinEdit* EPID;
  QtCheckBox* CBAutoStart;
  QtCheckBox* CBHide;
  QtCheckGroup* GBCard;
  QtDropDownList* CBCard;
  QtDropDownList* CBBitrate;
  QtSlider* SSilence;
  QtLabel* LSilence;
  QtSpinEdit* ESilenceTime;
  QtSpinEdit* ERestoreTime;
  QtSpinEdit* ECardWait;
  QtCheckGroup* GBMixer;
  QtCheckBox* CBSeparately;
  QtCheckBox* CBMuteOnly;
  QtCheckBox* CBSetLevel;
  QtDropDownList* CBDevice_L;
  QtDropDownList* CBDevice_R;
  QtDropDownList* CBRoot_L;
  QtDropDownList* CBRoot_R;
  QtDropDownList* CBLine_L;
  QtDropDownList* CBLine_R;
  QtSlider* TBLevel_L;
  QtSlider* TBLevel_R;
  QtSpeedButton* SBEqual;
  QtSpinEdit* EFadeOut;
  QtSpinEdit* EFadeIn;
  QtSpinEdit* EMixerWait;
  QFrame* PanSave;
  QtButton* SBSave;
};

}  // namespace calvora::ui::qt
