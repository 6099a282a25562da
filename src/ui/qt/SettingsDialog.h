#pragma once
// The settings dialog on Qt: its form with the dialog's logic, shown modally.
#include "settings/Fr_Setting.h"

class QWidget;

namespace calvora::ui::qt {

class SettingsForm;

// The form's widgets by the roles the dialog's logic uses.
settings::SettingWidgets WidgetsOf(SettingsForm& form);

// Creates the dialog over the parent, runs it modally and destroys it; true when it closed
// after a successful save.
bool RunSettingsDialog(QWidget* parent, const settings::SettingServices& services);

}  // namespace calvora::ui::qt
