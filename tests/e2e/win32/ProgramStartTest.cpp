// The Windows program started as its own process: its main window appears on the desktop
// under the class controlling programs look for, shows its caption with the version of its
// version resource, and a close request ends the process. The options that need no window
// print to whoever started it, and the program carries its icons.
#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::wstring gProgram;  // the executable, as a Windows path

// The first window of class TCV_AudioMixer that belongs to `processId`.
HWND WindowOfProcess(DWORD processId) {
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, L"TCV_AudioMixer", nullptr)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == processId)
      return window;
  }
  return nullptr;
}

TEST(ProgramStart, ShowsItsWindowByClassAndEndsOnClose) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring commandLine = L"\"" + gProgram + L"\"";
  ASSERT_TRUE(CreateProcessW(gProgram.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                             nullptr, nullptr, &startup, &process))
      << "cannot start the program, error " << GetLastError();

  // The first start under a fresh Wine server can take a while. The window is created first and
  // shown once the program has read its settings.
  HWND window = nullptr;
  for (int waited = 0; (window == nullptr || !IsWindowVisible(window)) && waited < 30000;
       waited += 100) {
    Sleep(100);
    window = WindowOfProcess(process.dwProcessId);
  }
  if (window != nullptr) {
    wchar_t caption[128]{};
    GetWindowTextW(window, caption, 128);
    EXPECT_STREQ(caption, L"Calvora Audio Mixer " CALVORA_FILE_VERSION_W);
    EXPECT_TRUE(IsWindowVisible(window)) << "the window was never shown";
    PostMessageW(window, WM_CLOSE, 0, 0);
  }
  const DWORD ended = WaitForSingleObject(process.hProcess, 15000);
  if (ended != WAIT_OBJECT_0)
    TerminateProcess(process.hProcess, 1);
  EXPECT_NE(window, nullptr) << "no window of class TCV_AudioMixer appeared";
  EXPECT_EQ(ended, WAIT_OBJECT_0) << "the program did not end on a close request";
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

// Runs the program with the option and returns what it printed on its standard output.
std::string OutputOf(const std::wstring& option) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
    return "(no pipe)";
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION process{};
  std::wstring commandLine = L"\"" + gProgram + L"\" " + option;
  const BOOL started = CreateProcessW(gProgram.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                      0, nullptr, nullptr, &startup, &process);
  CloseHandle(writeEnd);
  std::string output;
  if (started) {
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &count, nullptr) && count > 0)
      output.append(buffer, count);
    if (WaitForSingleObject(process.hProcess, 15000) != WAIT_OBJECT_0)
      TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(readEnd);
  return output;
}

TEST(ProgramStart, OptionsPrintWithoutAWindow) {
  EXPECT_EQ(OutputOf(L"--version"), "Calvora Audio Mixer " CALVORA_FILE_VERSION "\r\n");
  const std::string help = OutputOf(L"--help");
  EXPECT_EQ(help.rfind("Usage: calvora-audio-mixer", 0), 0u) << help;
  EXPECT_NE(help.find("window messages"), std::string::npos) << help;
  const std::string listing = OutputOf(L"--list-devices");
  EXPECT_NE(listing.find("Capture devices"), std::string::npos) << listing;
  EXPECT_NE(listing.find("Mixer devices"), std::string::npos) << listing;
  EXPECT_EQ(FindWindowW(L"TCV_AudioMixer", nullptr), nullptr) << "an option opened the window";
}

TEST(ProgramStart, CarriesItsIconAndTheTrayAnimationsEightImages) {
  const UINT icons = ExtractIconExW(gProgram.c_str(), -1, nullptr, nullptr, 0);
  EXPECT_EQ(icons, 9u) << "the application icon and eight tray images";
}

std::string Utf16(std::wstring_view text) {
  std::string bytes = "\xFF\xFE";
  for (const wchar_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

// A copy of the program in a folder of its own, started with a settings file beside it as
// Windows programs leave them: Notepad's "Unicode" (UTF-16), and CR CR LF line ends in the ANSI
// code page. Each, in interactive mode, answers identify with the file's program ID; closing
// would ask first, so the test ends the process itself (nothing is saved on exit).
TEST(ProgramStart, ReadsItsSettingsFileInEveryEncodingWindowsWrites) {
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::filesystem::path folder =
      std::filesystem::path(temp) / (L"calvora-start-" + std::to_wstring(GetCurrentProcessId()));
  std::filesystem::create_directories(folder);
  const std::filesystem::path program = folder / L"calvora-audio-mixer.exe";
  std::filesystem::copy_file(gProgram, program);
  const std::vector<std::pair<std::string, int>> files = {
      {Utf16(L"[Settings]\r\nPID=4321\r\nSourceMode=1\r\n[Soundcard]\r\nCard=Mikrofon \u00FC\r\n"),
       4321},
      {"[Settings]\r\r\nPID=-2\r\r\nSourceMode=1\r\r\n[Soundcard]\r\r\nCard=Mikrofon \xFC\r\r\n",
       -2},
  };
  for (const auto& [bytes, pid] : files) {
    std::ofstream(folder / L"calvora-audio-mixer.ini", std::ios::binary) << bytes;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + program.wstring() + L"\"";
    ASSERT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, &startup, &process));
    HWND window = nullptr;
    for (int waited = 0; (window == nullptr || !IsWindowVisible(window)) && waited < 30000;
         waited += 100) {
      Sleep(100);
      window = WindowOfProcess(process.dwProcessId);
    }
    EXPECT_NE(window, nullptr);
    if (window != nullptr) {
      constexpr UINT kCommandMessage = 2102;
      constexpr LPARAM kIdentify = 0x7FFF7FFF;
      DWORD_PTR answer = 0;
      SendMessageTimeoutW(window, kCommandMessage, 0, kIdentify, SMTO_ABORTIFHUNG, 5000, &answer);
      EXPECT_EQ(static_cast<int>(answer), pid);
    }
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 15000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: e2e-win32 PROGRAM.exe\n");
    return 2;
  }
  // ctest names the program by its path on the Linux side; Wine's drive Z: is the root.
  std::string path = argv[1];
  if (!path.empty() && path[0] == '/')
    path = "Z:" + path;
  for (char& c : path)
    if (c == '/')
      c = '\\';
  gProgram.assign(path.begin(), path.end());
  return RUN_ALL_TESTS();
}
