#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>

#include "CommandProcess.h"
#include "WindowsCommandWords.h"
#include "platform/win32/WideText.h"
#include "system/WindowsErrorText.h"

namespace calvora::ctl {

namespace {

using platform::win32::Narrow;
using platform::win32::Widen;

// How often the output and the command's end are looked at while it runs.
constexpr DWORD kPollMs = 50;

std::vector<std::string> CurrentEnvironment() {
  std::vector<std::string> entries;
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* entry = block; entry != nullptr && *entry != L'\0';
       entry += std::wcslen(entry) + 1)
    entries.push_back(Narrow(entry));
  FreeEnvironmentStringsW(block);
  return entries;
}

// The block CreateProcessW takes: the entries sorted by name without case, each ended by a
// NUL, and one more NUL at the end.
std::wstring EnvironmentBlock(const std::vector<std::string>& entries) {
  std::vector<std::wstring> wide;
  for (const std::string& entry : entries)
    wide.push_back(Widen(entry));
  std::sort(wide.begin(), wide.end(), [](const std::wstring& a, const std::wstring& b) {
    return _wcsicmp(a.c_str(), b.c_str()) < 0;
  });
  std::wstring block;
  for (const std::wstring& entry : wide)
    block += entry + L'\0';
  return block + L'\0';
}

// Passes the output on until the command has ended and its output is read. A helper it left
// running in the background may keep the pipe open; the command's own end is what counts.
void PassOutput(HANDLE pipe, HANDLE process, CommandOutput& output) {
  bool ended = false;
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
      available = 0;  // every writer has closed it
    if (available > 0) {
      char buffer[4096];
      DWORD n = 0;
      if (ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof buffer), &n, nullptr) && n > 0) {
        output.Add(buffer, n);
        continue;
      }
    }
    if (ended)
      break;  // the command has ended and nothing more is waiting
    ended = WaitForSingleObject(process, kPollMs) == WAIT_OBJECT_0;
  }
  output.Finish();
}

}  // namespace

void RunCommandToItsEnd(const std::string& name, const std::vector<std::string>& argv,
                        const std::vector<std::string>& environment, const CommandReport& report) {
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherited, 0)) {
    report(name + ": could not start: " + WindowsErrorText(GetLastError()));
    return;
  }
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE nothing = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                               OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  std::wstring commandLine = Widen(JoinWindowsCommandWords(argv));
  std::wstring block = EnvironmentBlock(MergedEnvironment(CurrentEnvironment(), environment, true));
  const auto start = std::chrono::steady_clock::now();
  PROCESS_INFORMATION process{};
  // A console program gets no console window of its own: its output goes to the pipe.
  const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                      CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, block.data(),
                                      nullptr, &startup, &process);
  const DWORD error = GetLastError();
  CloseHandle(writeEnd);
  if (nothing != INVALID_HANDLE_VALUE)
    CloseHandle(nothing);
  if (!started) {
    CloseHandle(readEnd);
    report(name + ": could not start " + argv[0] + ": " + WindowsErrorText(error));
    return;
  }
  CloseHandle(process.hThread);
  const std::string pid = std::to_string(process.dwProcessId);
  report(name + ": started " + argv[0] + " (pid " + pid + ")");
  CommandOutput output(name, argv[0], report);
  PassOutput(readEnd, process.hProcess, output);
  CloseHandle(readEnd);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hProcess);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  report(name + ": " + argv[0] + " (pid " + pid + ") exited with " + std::to_string(exitCode) +
         " after " + seconds + " s");
}

}  // namespace calvora::ctl
