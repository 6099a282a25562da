// The Windows program started as its own process: its main window appears on the desktop
// under the class controlling programs look for, shows its caption, and a close request ends
// the process.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

#include <string>

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

  // The first start under a fresh Wine server can take a while.
  HWND window = nullptr;
  for (int waited = 0; window == nullptr && waited < 30000; waited += 100) {
    Sleep(100);
    window = WindowOfProcess(process.dwProcessId);
  }
  if (window != nullptr) {
    wchar_t caption[128]{};
    GetWindowTextW(window, caption, 128);
    EXPECT_EQ(std::wstring(caption).rfind(L"Calvora Audio Mixer", 0), 0u) << caption;
    EXPECT_TRUE(IsWindowVisible(window));
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
