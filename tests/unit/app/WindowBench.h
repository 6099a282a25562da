#pragma once
// What a main window runs on in a unit test: virtual time, desktop and devices, in-memory
// widgets and a settings file of its own, fresh for each test.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "VirtualClock.h"
#include "VirtualDesktop.h"
#include "VirtualMixerDevices.h"
#include "VirtualTimers.h"
#include "VirtualUi.h"
#include "VirtualWaveInput.h"
#include "app/Main.h"
#include "mixer/MixerXP.h"
#include "platform/posix/IniProfileFile.h"
#include "platform/posix/XdgRunKeys.h"

namespace calvora::app {

template <class WindowType>
class WindowBench : public ::testing::Test {
 protected:
  WindowBench() : timers(clock) {
    const auto* unit = ::testing::UnitTest::GetInstance();
    dir = std::filesystem::temp_directory_path() /
          ("calvora-window-" + std::to_string(unit->random_seed()) + "-" +
           unit->current_test_info()->test_suite_name() + "-" + unit->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "autostart");
    ini = std::make_unique<platform::posix::IniProfileFile>((dir / "calvora.ini").string());
    runKeys = std::make_unique<platform::posix::XdgRunKeys>((dir / "autostart").string(),
                                                            std::vector<std::string>{});
    store = std::make_unique<settings::SettingsStore>(
        *ini, *runKeys, (dir / "calvora").string(),
        [this](const std::string& e) { msg.ShowError(e); });
  }
  ~WindowBench() override {
    window.reset();
    mixer::FreeMixerDevices();
    std::filesystem::remove_all(dir);
    settings::CardChanged = settings::MixerDeviceChanged = false;
    settings::MixerLinesChanged = settings::MixerLevelChanged = false;
    settings::LinesMuted = true;
  }

  // The whole settings file the next window reads.
  void WriteIni(const std::string& text) { std::ofstream(dir / "calvora.ini") << text; }

  void Create() {
    const MainWindowWidgets widgets{form,    panWork,        panCard, sgCard,   labCard, panLed,
                                    imgLed,  panMixer,       sgMixer, labMixer, sgLevel, labSilence,
                                    panSett, settingsButton, tray,    msg};
    MainWindowServices services{clock,
                                timers,
                                desktop,
                                waveInput,
                                mixerDevices,
                                *store,
                                "1.0.0.1",
                                [this] { ++priorityRaised; },
                                [this] { return runDialog ? runDialog() : false; }};
    window = std::make_unique<WindowType>(widgets, std::move(services));
  }

  // Runs the settings dialog as the user does who changes and saves something.
  void ApplyDialog(std::function<void()> changes) {
    runDialog = [changes] {
      changes();
      return true;
    };
    settingsButton.Click();
  }

  testing::VirtualClock clock;
  testing::VirtualTimers timers;
  testing::VirtualDesktop desktop;
  testing::VirtualWaveInput waveInput;
  testing::VirtualMixerDevices mixerDevices;
  std::filesystem::path dir;
  std::unique_ptr<platform::posix::IniProfileFile> ini;
  std::unique_ptr<platform::posix::XdgRunKeys> runKeys;
  std::unique_ptr<settings::SettingsStore> store;

  testing::VirtualWindow form;
  testing::VirtualPanel panWork{0}, panCard{80}, panLed{28}, panMixer{68}, panSett{37};
  testing::VirtualGauge sgCard, sgMixer, sgLevel;
  testing::VirtualLabel labCard{"STOP"}, labMixer{"STOP"}, labSilence{"Level"};
  testing::VirtualCanvas imgLed{426, 26};
  ui::Button settingsButton;
  testing::VirtualTrayIcon tray;
  testing::VirtualMessageBox msg;
  int priorityRaised = 0;
  std::function<bool()> runDialog;
  std::unique_ptr<WindowType> window;
};

}  // namespace calvora::app
