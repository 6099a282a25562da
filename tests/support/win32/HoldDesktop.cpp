// Keeps Wine's desktop open for a whole test run. On Windows the shell holds the desktop all
// the time; Wine's desktop process ends a second after the last program on it has gone and
// starts again with the next one, and a program that starts meanwhile waits seconds for its
// windows. The tests run one program after another with such gaps, so this program stays on the
// desktop, with one hidden window, until scripts/test-windows.sh ends it with the run.
#include <windows.h>

int main() {
  const HWND window = CreateWindowExW(0, L"STATIC", L"calvora test run: holds the desktop", 0, 0, 0,
                                      0, 0, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (window == nullptr)
    return 1;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0)
    DispatchMessageW(&message);
  return 0;
}
