// The Windows program: wires the Win32 services (the tick count, the registry, waveIn, the
// mixer API, real windows) to the main window on native controls.
#include <cstdio>
#include <optional>
#include <vector>

#include "app/DeviceListing.h"
#include "app/Main.h"
#include "app/MainWindowStart.h"
#include "app/SettingsDialogWin32.h"
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
#include "ui/win32/WindowsApi.h"

#include <winver.h>

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

// The file version of the program's version resource, which the caption shows; the version
// it was built as when the resource cannot be read.
std::string FileVersionOf(const std::string& executable) {
  const std::wstring path = platform::win32::Widen(executable);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  std::vector<char> info(size);
  void* text = nullptr;
  UINT length = 0;
  if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, info.data()) ||
      !VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\FileVersion", &text, &length) ||
      length <= 1)
    return CALVORA_FILE_VERSION;
  return platform::win32::Narrow(std::wstring(static_cast<const wchar_t*>(text), length - 1));
}

// A windowed program has no console: what the options print goes to the console of the
// program that started it, when there is one and the output is not redirected already.
void PrintToStartingConsole() {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if ((output == nullptr || output == INVALID_HANDLE_VALUE) &&
      AttachConsole(ATTACH_PARENT_PROCESS)) {
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const auto listing = [](std::FILE* out) {
    platform::win32::Win32WaveInput waveInput;
    platform::win32::Win32MixerDevices mixerDevices;
    app::PrintDeviceListing(waveInput, mixerDevices, out);
  };
  if (argc > 1)
    PrintToStartingConsole();
  const std::string executable = ExecutablePath();
  if (const std::optional<int> status =
          app::RunWithoutWindow(argc, argv, listing, app::SettingsFilePathFor(executable)))
    return *status;

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
  const std::unique_ptr<app::TCV_AudioMixer> mainWindow = app::StartMainWindow(
      app::MainWindowWidgetsOf(form, form.ImgLed),
      {.Clock = clock,
       .Timers = timers,
       .Desktop = desktop,
       .WaveInput = waveInput,
       .MixerDevices = mixerDevices,
       .Store = store,
       .FileVersion = FileVersionOf(executable),
       .RaisePriority = [] { SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS); },
       .RunSettingsDialog = nullptr},  // StartMainWindow sets it
      [&form](const settings::SettingServices& dialogServices) {
        return app::RunSettingsDialog(form.Handle(), dialogServices);
      });
  app::TCV_AudioMixer& window = *mainWindow;
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
