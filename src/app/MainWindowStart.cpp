#include "app/MainWindowStart.h"

namespace calvora::app {

std::unique_ptr<TCV_AudioMixer> StartMainWindow(const MainWindowWidgets& widgets,
                                                MainWindowServices services,
                                                SettingsDialogRunner runSettingsDialog) {
  // The dialog asks for the window's controller when it opens; the window exists by then.
  auto mainWindow = std::make_shared<TCV_AudioMixer*>(nullptr);
  const settings::SettingServices dialogServices{
      .WaveInput = services.WaveInput,
      .MixerDevices = services.MixerDevices,
      .Clock = services.Clock,
      .Timers = services.Timers,
      .Store = services.Store,
      .MainLineMixer = [mainWindow] {
        return *mainWindow != nullptr ? (*mainWindow)->LineMixer.get() : nullptr;
      }};
  services.RunSettingsDialog = [dialogServices, run = std::move(runSettingsDialog)] {
    return run(dialogServices);
  };
  auto window = std::make_unique<TCV_AudioMixer>(widgets, std::move(services));
  *mainWindow = window.get();
  return window;
}

}  // namespace calvora::app
