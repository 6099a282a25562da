#include "app/SettingsDialogWin32.h"

#include "ui/win32/Win32SettingsForm.h"

namespace calvora::app {

settings::SettingWidgets WidgetsOf(ui::win32::Win32SettingsForm& form) {
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

bool RunSettingsDialog(HWND owner, const settings::SettingServices& services) {
  ui::win32::Win32SettingsForm form(owner);
  settings::TFSetting dialog(WidgetsOf(form), services);
  return form.ShowModal();
}

}  // namespace calvora::app
