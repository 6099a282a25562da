// A look at the utility's window from another program, as a controlling program or a screen
// reader has it: prints the window's caption and then the class and text of each control, one
// per line, tab-separated. With --end-session it then tells the window that the session ends,
// which closes the utility without asking. Exit code 1 when no such window exists.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::wstring TextOf(HWND window) {
  // WM_GETTEXT is carried across processes by the system; a hung window costs a second.
  wchar_t text[512]{};
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                      1000, &copied);
  return text;
}

BOOL CALLBACK PrintControl(HWND control, LPARAM) {
  wchar_t className[128]{};
  GetClassNameW(control, className, 128);
  std::printf("%s\t%s\n", Utf8(className).c_str(), Utf8(TextOf(control)).c_str());
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  const HWND window = FindWindowW(L"TCV_AudioMixer", nullptr);
  if (window == nullptr) {
    std::fprintf(stderr, "window-texts: no window of class TCV_AudioMixer\n");
    return 1;
  }
  std::printf("caption\t%s\n", Utf8(TextOf(window)).c_str());
  EnumChildWindows(window, PrintControl, 0);
  std::fflush(stdout);
  if (argc > 1 && std::string(argv[1]) == "--end-session") {
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
  }
  return 0;
}
