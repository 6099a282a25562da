#include "app/SettingsDialogWin32.h"

#include "app/SettingWidgetsOf.h"
#include "ui/win32/Win32SettingsForm.h"

namespace calvora::app {

settings::SettingWidgets WidgetsOf(ui::win32::Win32SettingsForm& form) {
  return SettingWidgetsOf(form);
}

bool RunSettingsDialog(HWND owner, const settings::SettingServices& services) {
  ui::win32::Win32SettingsForm form(owner);
  settings::TFSetting dialog(WidgetsOf(form), services);
  return form.ShowModal();
}

}  // namespace calvora::app
