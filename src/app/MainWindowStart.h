#pragma once
// The start-up both programs share: the main window on the system's services, with its
// "Settings" button opening the dialog on the same services.
#include <functional>
#include <memory>

#include "app/Main.h"
#include "settings/Fr_Setting.h"

namespace calvora::app {

// The main form's widgets by the roles the window code uses. The Qt form and the form on native
// controls name their widgets alike; the LED meter's canvas is handed over apart, as each form
// holds it its own way.
template <typename Form>
MainWindowWidgets MainWindowWidgetsOf(Form& form, ui::Canvas& ledCanvas) {
  return {.Form = form,
          .PanWork = form.PanWork,
          .PanCard = form.PanCard,
          .SGCard = *form.SGCard,
          .LabCard = *form.LabCard,
          .PanLed = form.PanLed,
          .ImgLed = ledCanvas,
          .PanMixer = form.PanMixer,
          .SGMixer = *form.SGMixer,
          .LabMixer = *form.LabMixer,
          .SGLevel = *form.SGLevel,
          .LabSilence = *form.LabSilence,
          .PanSett = form.PanSett,
          .SBSettings = *form.SBSettings,
          .TrayIcon = form.TrayIcon,
          .MSG = form.MSG};
}

// Shows the settings dialog on the services, modally; true when it closed after a save.
using SettingsDialogRunner = std::function<bool(const settings::SettingServices&)>;

// Builds the main window on `services` (whose RunSettingsDialog is set here). The dialog runs
// on the window's clock, timers, devices and store, and protects the lines of the window's
// line controller of the moment.
std::unique_ptr<TCV_AudioMixer> StartMainWindow(const MainWindowWidgets& widgets,
                                                MainWindowServices services,
                                                SettingsDialogRunner runSettingsDialog);

}  // namespace calvora::app
