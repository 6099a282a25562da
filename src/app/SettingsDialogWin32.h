#pragma once
// The settings dialog on native controls: the form joined to the dialog's logic, shown modally.
#include "ui/win32/WindowsApi.h"

#include "settings/Fr_Setting.h"

namespace calvora::ui::win32 {
class Win32SettingsForm;
}

namespace calvora::app {

// The form's controls by the roles the dialog's logic uses.
settings::SettingWidgets WidgetsOf(ui::win32::Win32SettingsForm& form);

// Creates the dialog owned by `owner`, runs it modally and destroys it; true when it closed
// after a successful save.
bool RunSettingsDialog(HWND owner, const settings::SettingServices& services);

}  // namespace calvora::app
