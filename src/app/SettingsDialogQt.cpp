#include "app/SettingsDialogQt.h"

#include "ui/qt/SettingsForm.h"

namespace calvora::app {

settings::SettingWidgets WidgetsOf(ui::qt::SettingsForm& form) {
  return {form,
          form.MSG,
          *form.CBSourceMode,
          *form.EPID,
          *form.CBAutoStart,
          *form.CBHide,
          *form.GBCard,
          *form.CBCard,
          *form.CBBitrate,
          *form.SSilence,
          *form.LSilence,
          *form.ESilenceTime,
          *form.ERestoreTime,
          *form.ECardWait,
          *form.GBMixer,
          *form.CBSeparately,
          *form.CBMuteOnly,
          *form.CBSetLevel,
          *form.CBDevice_L,
          *form.CBDevice_R,
          *form.CBRoot_L,
          *form.CBRoot_R,
          *form.CBLine_L,
          *form.CBLine_R,
          *form.TBLevel_L,
          *form.TBLevel_R,
          *form.SBEqual,
          *form.EFadeOut,
          *form.EFadeIn,
          *form.EMixerWait,
          *form.SBSave};
}

bool RunSettingsDialog(QWidget* parent, const settings::SettingServices& services) {
  ui::qt::SettingsForm form(parent);
  settings::TFSetting dialog(WidgetsOf(form), services);
  return form.exec() == QDialog::Accepted;
}

}  // namespace calvora::app
