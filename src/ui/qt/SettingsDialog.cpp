#include "ui/qt/SettingsDialog.h"

#include "ui/qt/SettingsForm.h"

namespace calvora::ui::qt {

bool RunSettingsDialog(QWidget* parent, const settings::SettingServices& services) {
  SettingsForm form(parent);
  const settings::SettingWidgets widgets{form,
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
  settings::TFSetting dialog(widgets, services);
  return form.exec() == QDialog::Accepted;
}

}  // namespace calvora::ui::qt
