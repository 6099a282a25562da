#pragma once
// The settings dialog's form on native controls: a window owned by the main window, with
// only a close button in its caption, the same groups, texts and places as the Qt build's
// form and the skin's colours. Run modally, the owner is disabled; Escape and the close
// button end it without the OK result, Enter presses "Save settings" (a focused button
// presses itself), and an open drop-down list takes Enter and Escape for itself.
#include "ui/win32/WindowsApi.h"

#include <memory>

#include "ui/Dialog.h"
#include "ui/SettingsFormLayout.h"
#include "ui/win32/FormWindow.h"
#include "ui/win32/Win32Roles.h"

namespace calvora::ui::win32 {

class Win32SettingsForm : public Dialog, public SettingsFormLayout, private FormWindow {
 public:
  // The window class, for programs and tests that look for the dialog.
  static constexpr wchar_t kClassName[] = L"TFSetting";

  // The window is created hidden, centred on the screen; `owner` may be null.
  explicit Win32SettingsForm(HWND owner);
  ~Win32SettingsForm() override;
  Win32SettingsForm(const Win32SettingsForm&) = delete;
  Win32SettingsForm& operator=(const Win32SettingsForm&) = delete;

  // ui::Dialog: ends the modal run, or the next one at once when none runs.
  void EndModal(bool ok) override;
  // Shows the window and runs its messages until EndModal; true for the OK result. The owner
  // is disabled meanwhile and activated again afterwards. A quit request ends the run
  // without the OK result and is left for the program's own loop.
  bool ShowModal();
  HWND Handle() const { return window_; }

  Win32MessageBox MSG;
  std::unique_ptr<Win32CheckBox> CBSourceMode;
  std::unique_ptr<Win32SpinEdit> EPID;
  std::unique_ptr<Win32CheckBox> CBAutoStart;
  std::unique_ptr<Win32CheckBox> CBHide;
  std::unique_ptr<Win32CheckGroup> GBCard;
  std::unique_ptr<Win32DropDownList> CBCard;
  std::unique_ptr<Win32DropDownList> CBBitrate;
  std::unique_ptr<Win32Slider> SSilence;
  std::unique_ptr<Win32Label> LSilence;
  std::unique_ptr<Win32SpinEdit> ESilenceTime;
  std::unique_ptr<Win32SpinEdit> ERestoreTime;
  std::unique_ptr<Win32SpinEdit> ECardWait;
  std::unique_ptr<Win32CheckGroup> GBMixer;
  std::unique_ptr<Win32CheckBox> CBSeparately;
  std::unique_ptr<Win32CheckBox> CBMuteOnly;
  std::unique_ptr<Win32CheckBox> CBSetLevel;
  std::unique_ptr<Win32DropDownList> CBDevice_L;
  std::unique_ptr<Win32DropDownList> CBDevice_R;
  std::unique_ptr<Win32DropDownList> CBRoot_L;
  std::unique_ptr<Win32DropDownList> CBRoot_R;
  std::unique_ptr<Win32DropDownList> CBLine_L;
  std::unique_ptr<Win32DropDownList> CBLine_R;
  std::unique_ptr<Win32Slider> TBLevel_L;
  std::unique_ptr<Win32Slider> TBLevel_R;
  std::unique_ptr<Win32SpeedButton> SBEqual;
  std::unique_ptr<Win32SpinEdit> EFadeOut;
  std::unique_ptr<Win32SpinEdit> EFadeIn;
  std::unique_ptr<Win32SpinEdit> EMixerWait;
  std::unique_ptr<Win32Button> SBSave;

 private:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void CreateControls();
  // A caption in the group whose top is `top`; the check group disables it with its controls.
  HWND Caption(const TextBox& caption, int top, Win32CheckGroup* group);
  void Paint();
  LRESULT ColorOf(HWND control, HDC dc) const;

  HWND owner_;
  HWND window_ = nullptr;
  HWND tooltip_ = nullptr;
  HFONT titleFont_ = nullptr;
  HBRUSH windowBrush_ = nullptr;
  HBRUSH groupBrush_ = nullptr;
  HBRUSH fieldBrush_ = nullptr;
  RECT mainPlace_{};
  bool ended_ = false;
  bool accepted_ = false;
};

}  // namespace calvora::ui::win32
