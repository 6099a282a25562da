#pragma once
// The Qt form's widgets by the roles the window code uses, as the program wires them, and the
// settings file the window reads, in a folder of the test's own.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/Main.h"
#include "platform/posix/IniProfileFile.h"
#include "platform/posix/XdgRunKeys.h"
#include "settings/Settings.h"
#include "ui/qt/MainForm.h"

namespace calvora {

inline app::MainWindowWidgets FormWidgets(ui::qt::MainForm& form) {
  return {form,          form.PanWork,     form.PanCard,          *form.SGCard,
          *form.LabCard, form.PanLed,      form.ImgLed->Canvas(), form.PanMixer,
          *form.SGMixer, *form.LabMixer,   *form.SGLevel,         *form.LabSilence,
          form.PanSett,  *form.SBSettings, form.TrayIcon,         form.MSG};
}

// `dir`/calvora.ini written with `iniText`, and the store that reads it; autostart entries go
// to `dir`/autostart, never to the user's own folder.
struct SettingsFolder {
  SettingsFolder(const std::filesystem::path& dir, const std::string& iniText)
      : ini((std::filesystem::create_directories(dir / "autostart"),
             std::ofstream(dir / "calvora.ini") << iniText, (dir / "calvora.ini").string())),
        runKeys((dir / "autostart").string(), std::vector<std::string>{}),
        store(ini, runKeys, (dir / "calvora").string(), [](const std::string&) {}) {}

  platform::posix::IniProfileFile ini;
  platform::posix::XdgRunKeys runKeys;
  settings::SettingsStore store;
};

}  // namespace calvora
