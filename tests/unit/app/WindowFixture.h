#pragma once
// The main window on virtual time, a virtual desktop, virtual devices and in-memory widgets,
// with its settings file in a temporary folder. Window is the class under test (the window
// itself or a subclass that observes it); WaveInput the virtual wave input or a subclass.
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
#ifdef _WIN32
#include <windows.h>

#include "platform/win32/Win32ProfileFile.h"
#include "platform/win32/Win32RunKeys.h"
#else
#include "platform/posix/IniProfileFile.h"
#include "platform/posix/XdgRunKeys.h"
#endif

namespace calvora::app {

template <typename Window, typename WaveInput = testing::VirtualWaveInput>
class WindowFixture : public ::testing::Test {
 protected:
  WindowFixture() : timers(clock) {
    const auto* info = ::testing::UnitTest::GetInstance();
    dir = std::filesystem::temp_directory_path() /
          ("calvora-main-" + std::to_string(info->random_seed()) + "-" +
           info->current_test_info()->test_suite_name() + "-" + info->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "autostart");
#ifdef _WIN32
    // The Run keys of the test's own under the registry's roots.
    runKeyPath = L"Software\\Calvora Tests\\Main " + std::to_wstring(GetCurrentProcessId());
    ini = std::make_unique<platform::win32::Win32ProfileFile>((dir / "calvora.ini").string());
    runKeys = std::make_unique<platform::win32::Win32RunKeys>(runKeyPath);
#else
    ini = std::make_unique<platform::posix::IniProfileFile>((dir / "calvora.ini").string());
    runKeys = std::make_unique<platform::posix::XdgRunKeys>((dir / "autostart").string(),
                                                            std::vector<std::string>{});
#endif
    store = std::make_unique<settings::SettingsStore>(
        *ini, *runKeys, (dir / "calvora").string(),
        [this](const std::string& e) { msg.ShowError(e); });
  }
  ~WindowFixture() override {
    window.reset();
    std::filesystem::remove_all(dir);
#ifdef _WIN32
    RegDeleteTreeW(HKEY_CURRENT_USER, runKeyPath.c_str());
#endif
    settings::CardChanged = settings::MixerDeviceChanged = false;
    settings::MixerLinesChanged = settings::MixerLevelChanged = false;
  }

  // Writes the settings file; `text` starts in the [Settings] section.
  void WriteSettings(const std::string& text) {
    std::ofstream(dir / "calvora.ini") << "[Settings]\n" << text;
  }

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
    window = std::make_unique<Window>(widgets, std::move(services));
  }

  testing::VirtualClock clock;
  testing::VirtualTimers timers;
  testing::VirtualDesktop desktop;
  WaveInput waveInput;
  testing::VirtualMixerDevices mixerDevices;
  std::filesystem::path dir;
  std::unique_ptr<platform::ProfileFile> ini;
  std::unique_ptr<platform::RunKeys> runKeys;
#ifdef _WIN32
  std::wstring runKeyPath;
#endif
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
  std::unique_ptr<Window> window;
};

}  // namespace calvora::app
