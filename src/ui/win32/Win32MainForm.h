#pragma once
// The main window's form on native controls. It takes over the desktop's own window (of the
// class controlling programs look for), so the window they find is the one the user sees:
// the form handles the frame, its controls and the tray icon, and passes every other message
// on to the desktop's window procedure.
#include "ui/win32/WindowsApi.h"

#include <functional>
#include <memory>

#include "ui/MainFormLayout.h"
#include "ui/Window.h"
#include "ui/win32/DibCanvas.h"
#include "ui/win32/FormWindow.h"
#include "ui/win32/Win32Roles.h"

namespace calvora::ui::win32 {

class Win32MainForm : public Window, public MainFormLayout, private FormWindow {
 public:
  // `window` is the desktop's own window; the form gives it its frame and controls.
  Win32MainForm(HWND window, const std::string& title);
  ~Win32MainForm() override;
  Win32MainForm(const Win32MainForm&) = delete;
  Win32MainForm& operator=(const Win32MainForm&) = delete;

  // ui::Window
  void SetCaption(const std::string& caption) override;
  std::string Caption() const override;
  void SetClientHeight(int height) override;
  int ClientHeight() const override { return clientHeight_; }
  void Minimize() override;
  void HideFromDesktop() override;
  void Restore() override;
  bool ShownOnDesktop() const override;
  void Close() override;
  bool Closed() const override { return closed_; }

  // Shows the window centred on the screen, unless it was minimized or hidden before.
  void ShowAtStart();
  HWND Handle() const { return window_; }
  // The session ends (WM_QUERYENDSESSION).
  std::function<void()> OnSessionEnd;

  Win32Panel PanWork;
  Win32Panel PanCard;
  Win32Panel PanLed;
  Win32Panel PanMixer;
  Win32Panel PanSett;
  std::unique_ptr<Win32Gauge> SGCard;
  std::unique_ptr<Win32Label> LabCard;
  DibCanvas ImgLed;
  std::unique_ptr<Win32Gauge> SGMixer;
  std::unique_ptr<Win32Label> LabMixer;
  std::unique_ptr<Win32Gauge> SGLevel;
  std::unique_ptr<Win32Label> LabSilence;
  std::unique_ptr<Win32Button> SBSettings;
  Win32TrayIcon TrayIcon;
  Win32MessageBox MSG;

 private:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void Layout();
  void SetIcons();
  void Paint();
  void PaintPanel(HDC dc, const Win32Panel& panel) const;
  Win32Label* LabelOf(HWND control) const;
  // The LED meter (image and its black frame) and the "Level" label answer clicks, and show
  // the hand over them.
  bool OverClickablePart(HWND under) const;
  RECT LedFrame() const;

  enum class StartState { Normal, Minimized, Hidden };
  HWND window_;
  WNDPROC desktopProcedure_ = nullptr;
  HWND ledView_ = nullptr;
  // Sent to every top-level window when the shell's notification area was created anew.
  UINT taskbarCreated_ = 0;
  HFONT statusFont_ = nullptr;
  HFONT boldFont_ = nullptr;
  HBRUSH fieldBrush_ = nullptr;
  HBRUSH groupBrush_ = nullptr;
  int clientHeight_ = kPanCardHeight + kPanMixerHeight + kPanSettHeight;
  StartState startState_ = StartState::Normal;
  bool started_ = false;
  bool closed_ = false;
  bool minimized_ = false;
};

}  // namespace calvora::ui::win32
