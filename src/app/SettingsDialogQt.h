#pragma once
// The settings dialog on Qt: the Qt form joined to the dialog's logic, shown modally.
#include "settings/Fr_Setting.h"

class QWidget;

namespace calvora::ui::qt {
class SettingsForm;
}

namespace calvora::app {

// The form's widgets by the roles the dialog's logic uses.
settings::SettingWidgets WidgetsOf(ui::qt::SettingsForm& form);

// Creates the dialog over the parent, runs it modally and destroys it; true when it closed
// after a successful save.
bool RunSettingsDialog(QWidget* parent, const settings::SettingServices& services);

}  // namespace calvora::app
