// The program: wires the real services (Qt, the POSIX clock and files) to the main window.
#include <QApplication>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/DeviceListing.h"
#include "app/Main.h"
#include "app/MainWindowStart.h"
#include "app/SettingsDialogQt.h"
#include "app/SettingsFileAdvice.h"
#include "app/SettingsFileLocation.h"
#include "platform/alsa/AlsaMixerDevices.h"
#include "platform/alsa/AlsaWaveInput.h"
#include "platform/dbus/QtBusPump.h"
#include "platform/dbus/SdBusDesktop.h"
#include "platform/posix/IniProfileFile.h"
#include "platform/posix/PosixClock.h"
#include "platform/posix/ProcessPriority.h"
#include "platform/posix/XdgRunKeys.h"
#include "platform/qt/QtDescriptorWatches.h"
#include "platform/qt/QtTimers.h"
#include "platform/qt/SessionEnd.h"
#include "platform/qt/ShutdownSignals.h"
#include "ui/qt/MainForm.h"

using namespace calvora;

int main(int argc, char** argv) {
  // --list-devices, --help and --version need no window, and so no display.
  const auto listing = [](std::FILE* out) {
    platform::alsa::AlsaWaveInput waveInput;
    platform::alsa::AlsaMixerDevices mixerDevices;
    app::PrintDeviceListing(waveInput, mixerDevices, out);
  };
  // The program's own file, as Qt finds it too; argv[0] where /proc is not mounted.
  std::error_code noLink;
  std::string executable = std::filesystem::read_symlink("/proc/self/exe", noLink).string();
  if (executable.empty() && argc > 0)
    executable = std::filesystem::absolute(argv[0], noLink).string();
  const app::SettingsFileLocation settingsFile =
      app::ChooseSettingsFile(executable, app::RealSettingsFileSystem());
  if (const std::optional<int> status =
          app::RunWithoutWindow(argc, argv, listing, settingsFile.path))
    return *status;
  if (const std::optional<std::string> problem = app::PrepareSettingsFile(settingsFile))
    std::fprintf(stderr, "calvora-audio-mixer: %s\n", problem->c_str());
  QApplication app(argc, argv);
  ui::qt::PrepareApplication(app::kProgramTitle);

  platform::posix::PosixClock clock;
  platform::qt::QtTimers timers;
  const std::string& iniPath = settingsFile.path;
  const bool inUserFolder = settingsFile.InUserFolder();
  platform::posix::IniProfileFile ini(iniPath);
  platform::posix::XdgRunKeys runKeys;
  // One wave input serves the window's capture and the settings dialog's list, so the card in
  // use stays listed while it captures.
  // The capture runs on the main loop, which watches the device's descriptors.
  platform::qt::QtDescriptorWatches descriptorWatches;
  platform::alsa::AlsaWaveInput waveInput(descriptorWatches, timers);
  platform::alsa::AlsaMixerDevices mixerDevices;

  // Controlling programs reach the window over the session bus; without one it runs alone.
  std::unique_ptr<platform::dbus::SdBusDesktop> desktop =
      platform::dbus::SdBusDesktop::Open("TCV_AudioMixer");
  if (!desktop->Connected())
    std::fprintf(stderr, "calvora-audio-mixer: %s; running without controlling programs\n",
                 desktop->ErrorText().c_str());
  platform::dbus::QtBusPump busPump(*desktop);

  ui::qt::MainForm form;
  settings::SettingsStore store(
      ini, runKeys, executable, [&form, &iniPath, inUserFolder](const std::string& text) {
        form.MSG.ShowError(app::SettingsErrorForUser(text, iniPath, inUserFolder));
      });

  const std::unique_ptr<app::TCV_AudioMixer> mainWindow =
      app::StartMainWindow(app::MainWindowWidgetsOf(form, form.ImgLed->Canvas()),
                           {.Clock = clock,
                            .Timers = timers,
                            .Desktop = *desktop,
                            .WaveInput = waveInput,
                            .MixerDevices = mixerDevices,
                            .Store = store,
                            .FileVersion = CALVORA_FILE_VERSION,
                            .RaisePriority = platform::posix::RaiseProcessPriority,
                            .RunSettingsDialog = nullptr},  // StartMainWindow sets it
                           [&form](const settings::SettingServices& dialogServices) {
                             return app::RunSettingsDialog(&form, dialogServices);
                           });
  app::TCV_AudioMixer& window = *mainWindow;

  // The session is ending: close at once, without the confirmation of interactive mode. A
  // session save that is not a logout leaves the program running.
  platform::qt::ShutdownSignals shutdownSignals([&window] { window.WMSystem_Shutdown_Query(); });
  platform::qt::SessionEnd sessionEnd([&form] { return !form.Closed(); },
                                      [&window] { window.WMSystem_Shutdown_Query(); });

  form.ShowAtStart();
  return QApplication::exec();
}
