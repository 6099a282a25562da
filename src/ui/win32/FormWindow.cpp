#include "ui/win32/FormWindow.h"

namespace calvora::ui::win32 {

namespace {
constexpr wchar_t kFormProperty[] = L"CalvoraForm";
}  // namespace

WNDPROC FormWindow::TakeMessages(HWND window) {
  SetPropW(window, kFormProperty, this);
  return reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Procedure)));
}

void FormWindow::LeaveMessages(HWND window) {
  RemovePropW(window, kFormProperty);
}

LRESULT CALLBACK FormWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* form = static_cast<FormWindow*>(GetPropW(window, kFormProperty));
  return form != nullptr ? form->HandleMessage(message, wParam, lParam)
                         : DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace calvora::ui::win32
