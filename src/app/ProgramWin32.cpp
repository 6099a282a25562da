// The Windows program: wires the Win32 services (the tick count, the registry, waveIn, the
// mixer API, real windows) to the main window on native controls.

#include "app/Main.h"
#include "app/SettingsFileAdvice.h"
#include "platform/win32/WideText.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32Desktop.h"
#include "platform/win32/Win32MixerDevices.h"
#include "platform/win32/Win32ProfileFile.h"
#include "platform/win32/Win32RunKeys.h"
#include "platform/win32/Win32Timers.h"
#include "platform/win32/Win32WaveInput.h"
#include "ui/win32/Win32MainForm.h"
#include "ui/win32/Win32SettingsDialog.h"

namespace {

using namespace calvora;

std::string ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      return platform::win32::Narrow(path);
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

int main() {
  const std::string executable = ExecutablePath();
  platform::win32::Win32Clock clock;
  platform::win32::Win32Timers timers;
  const std::string iniPath = app::SettingsFilePathFor(executable);
  platform::win32::Win32ProfileFile ini(iniPath);
  platform::win32::Win32RunKeys runKeys;
  platform::win32::Win32WaveInput waveInput;
  platform::win32::Win32MixerDevices mixerDevices;
  // The desktop's own window, of the class controlling programs look for, becomes the form.
  platform::win32::Win32Desktop desktop("TCV_AudioMixer");
  ui::win32::Win32MainForm form(reinterpret_cast<HWND>(desktop.OwnWindow()), app::kProgramTitle);

  settings::SettingsStore store(ini, runKeys, executable,
                                [&form, &iniPath](const std::string& text) {
                                  form.MSG.ShowError(app::SettingsErrorForUser(text, iniPath));
                                });
  const app::MainWindowWidgets widgets{
      form,          form.PanWork,     form.PanCard,  *form.SGCard,
      *form.LabCard, form.PanLed,      form.ImgLed,   form.PanMixer,
      *form.SGMixer, *form.LabMixer,   *form.SGLevel, *form.LabSilence,
      form.PanSett,  *form.SBSettings, form.TrayIcon, form.MSG};
  // The dialog protects the main window's lines and leaves its controller a device tree.
  app::TCV_AudioMixer* mainWindow = nullptr;
  const settings::SettingServices dialogServices{
      waveInput, mixerDevices,
      clock,     timers,
      store,     [&mainWindow] { return mainWindow ? mainWindow->LineMixer.get() : nullptr; }};
  const auto runSettingsDialog = [&form, &dialogServices] {
    return ui::win32::RunSettingsDialog(form.Handle(), dialogServices);
  };
  app::MainWindowServices services{
      clock,
      timers,
      desktop,
      waveInput,
      mixerDevices,
      store,
      CALVORA_FILE_VERSION,
      [] { SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS); },
      runSettingsDialog};
  app::TCV_AudioMixer window(widgets, std::move(services));
  mainWindow = &window;
  // The session is ending: close at once, without the confirmation of interactive mode.
  form.OnSessionEnd = [&window] { window.WMSystem_Shutdown_Query(); };

  form.ShowAtStart();
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
