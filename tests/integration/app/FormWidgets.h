#pragma once
// The Qt form's widgets by the roles the window code uses, as the program wires them.
#include "app/Main.h"
#include "ui/qt/MainForm.h"

namespace calvora {

inline app::MainWindowWidgets FormWidgets(ui::qt::MainForm& form) {
  return {form,          form.PanWork,     form.PanCard,          *form.SGCard,
          *form.LabCard, form.PanLed,      form.ImgLed->Canvas(), form.PanMixer,
          *form.SGMixer, *form.LabMixer,   *form.SGLevel,         *form.LabSilence,
          form.PanSett,  *form.SBSettings, form.TrayIcon,         form.MSG};
}

}  // namespace calvora
