#include "app/SettingsDialogQt.h"

#include "app/SettingWidgetsOf.h"
#include "ui/qt/SettingsForm.h"

namespace calvora::app {

settings::SettingWidgets WidgetsOf(ui::qt::SettingsForm& form) {
  return SettingWidgetsOf(form);
}

bool RunSettingsDialog(QWidget* parent, const settings::SettingServices& services) {
  ui::qt::SettingsForm form(parent);
  settings::TFSetting dialog(WidgetsOf(form), services);
  return form.exec() == QDialog::Accepted;
}

}  // namespace calvora::app
