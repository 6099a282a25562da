#pragma once
// A form that handles the messages of its window. The window's procedure finds the form in a
// property of the window and passes each message to HandleMessage; before the form takes the
// window and after it lets go, messages go to DefWindowProcW.
#include "ui/win32/WindowsApi.h"

namespace calvora::ui::win32 {

class FormWindow {
 public:
  virtual ~FormWindow() = default;

 protected:
  // Sends the window's messages to HandleMessage from now on; returns the window procedure
  // the window had.
  WNDPROC TakeMessages(HWND window);
  // The window's messages no longer reach the form.
  static void LeaveMessages(HWND window);
  virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

}  // namespace calvora::ui::win32
