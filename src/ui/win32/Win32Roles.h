#pragma once
// The widget roles on native Win32 controls, all children of the main window: the window
// procedure passes each control's notifications and drawing requests on to its role.
#include "ui/win32/WindowsApi.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "ui/Button.h"
#include "ui/Gauge.h"
#include "ui/Label.h"
#include "ui/MessageBox.h"
#include "ui/Panel.h"
#include "ui/TrayIcon.h"

namespace calvora::ui::win32 {

// A child control of `parent` at the given place, with `id` as its control identifier.
HWND CreateChild(HWND parent, const wchar_t* className, DWORD style, int id, const RECT& place);

// A centred static text in a colour of its own; clicks arrive as STN_CLICKED / STN_DBLCLK.
class Win32Label : public Label {
 public:
  Win32Label(HWND parent, int id, const RECT& place, const std::string& text, Color color);
  void SetText(const std::string& text) override;
  std::string Text() const override { return text_; }
  void SetColor(Color color) override;
  Color TextColor() const override { return color_; }
  HWND Handle() const { return handle_; }

 private:
  HWND handle_;
  std::string text_;
  Color color_;
};

// An owner-drawn bar 0..100 with its text (or its percentage) over it.
class Win32Gauge : public Gauge {
 public:
  enum class Shows { Text, Percentage };
  Win32Gauge(HWND parent, int id, const RECT& place, Shows shows, COLORREF chunk);
  void SetProgress(int value) override;
  int Progress() const override { return progress_; }
  void SetText(const std::string& text) override;
  std::string Text() const override { return text_; }
  // Paints the gauge on WM_DRAWITEM.
  void Draw(const DRAWITEMSTRUCT& item) const;
  HWND Handle() const { return handle_; }

 private:
  std::wstring Shown() const;

  HWND handle_;
  Shows shows_;
  COLORREF chunk_;
  int progress_ = 0;
  std::string text_;
};

// A group of child controls placed and shown as one, optionally framed with a title. The
// form stacks the panels; `onChange` tells it that a panel's size or visibility changed.
class Win32Panel : public Panel {
 public:
  Win32Panel(std::wstring title, int height) : title_(std::move(title)), height_(height) {}
  void SetVisible(bool visible) override;
  bool Visible() const override { return visible_; }
  int ClientHeight() const override { return height_; }
  void SetClientHeight(int height) override;

  // Adds a control whose place is given relative to the panel's top.
  void Add(HWND control, const RECT& place);
  // Moves the panel, and so its controls, to the given top in the window.
  void PlaceAt(int top);
  // Shows or hides the controls: the form decides, from this panel's and its parent's state.
  void ShowMembers(bool shown) const;
  int Top() const { return top_; }
  const std::wstring& Title() const { return title_; }
  std::function<void()> onChange;

 private:
  struct Member {
    HWND control;
    RECT place;
  };
  std::wstring title_;
  int height_;
  int top_ = 0;
  bool visible_ = true;
  std::vector<Member> members_;
};

class Win32Button : public Button {
 public:
  Win32Button(HWND parent, int id, const RECT& place, const wchar_t* caption);
  HWND Handle() const { return handle_; }

 private:
  HWND handle_;
};

// The notification-area icon, animated through its eight images every 70 ms while shown.
// Its messages come to the owner window as kCallbackMessage; its animation as WM_TIMER
// with kAnimationTimer.
class Win32TrayIcon : public TrayIcon {
 public:
  static constexpr UINT kCallbackMessage = WM_APP + 1;
  static constexpr UINT_PTR kAnimationTimer = 0x7ca1;

  explicit Win32TrayIcon(HWND owner);
  ~Win32TrayIcon() override;
  void SetHint(const std::string& hint) override;
  std::string Hint() const override { return hint_; }
  void SetVisible(bool visible) override;
  bool Visible() const override { return visible_; }
  int ImageIndex() const override { return imageIndex_; }
  bool Available() const override;
  // The owner window's handlers.
  void NextImage();
  void Notified(LPARAM event);
  // The icon of an animation image: the program's own, or the system's without it.
  HICON Image(int index) const;

 private:
  static constexpr int kImageCount = 8;
  void Update(DWORD action);

  HWND owner_;
  std::array<HICON, kImageCount> images_{};
  std::string hint_;
  bool visible_ = false;
  int imageIndex_ = 2;
};

class Win32MessageBox : public MessageBox {
 public:
  Win32MessageBox(HWND owner, std::string title) : owner_(owner), title_(std::move(title)) {}
  bool ConfirmYesNo(const std::string& text) override;
  void ShowError(const std::string& text) override;

 private:
  HWND owner_;
  std::string title_;
};

}  // namespace calvora::ui::win32
