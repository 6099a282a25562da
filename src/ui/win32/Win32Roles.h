#pragma once
// The widget roles on native Win32 controls, children of the main window or of the settings
// dialog: the window procedure passes each control's notifications and drawing requests on
// to its role.
#include "ui/win32/WindowsApi.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "ui/Button.h"
#include "ui/CheckBox.h"
#include "ui/DropDownList.h"
#include "ui/Gauge.h"
#include "ui/Label.h"
#include "ui/MessageBox.h"
#include "ui/Panel.h"
#include "ui/Slider.h"
#include "ui/SpeedButton.h"
#include "ui/SpinEdit.h"
#include "ui/TrayIcon.h"

namespace calvora::ui::win32 {

// A child control of `parent` at the given place, with `id` as its control identifier.
HWND CreateChild(HWND parent, const wchar_t* className, DWORD style, int id, const RECT& place);
// A window's place in its parent's client area.
RECT PlaceInParent(HWND window);
// A group's frame in the skin's colours: filled, bordered, its title (when not empty) in the
// font on the frame's top edge. The frame begins a few pixels below `place.top`, where the
// title sits.
void PaintGroup(HDC dc, const RECT& place, const std::wstring& title, HFONT titleFont, HBRUSH fill);

// The skin's bold font at the height in pixels; the caller deletes it.
HFONT BoldFont(int pixels);

// A role that takes its control's notifications, which the parent window passes on: the
// codes of WM_COMMAND, WM_HSCROLL, and WM_NOTIFY. The control carries a pointer to its role.
class Win32Notified {
 public:
  virtual ~Win32Notified() = default;
  virtual void Command(UINT /*code*/) {}
  virtual void Scrolled() {}
  // True with `result` set when the notification was handled.
  virtual bool Notify(const NMHDR& /*header*/, LRESULT& /*result*/) { return false; }
  // The role attached to the control, or none.
  static Win32Notified* Of(HWND control);

 protected:
  void Attach(HWND control);
};

// Visibility and horizontal extent in its parent window, for a role whose control has them.
// A combo box's window height includes its dropped list, so the height given at creation is
// the one kept.
template <typename Role>
class Win32Control : public Role {
 public:
  Win32Control(HWND handle, const RECT& place)
      : handle_(handle), height_(place.bottom - place.top) {}
  void SetVisible(bool visible) override { ShowWindow(handle_, visible ? SW_SHOWNA : SW_HIDE); }
  // Its own visibility, whatever its parent's.
  bool Visible() const override {
    return (GetWindowLongPtrW(handle_, GWL_STYLE) & WS_VISIBLE) != 0;
  }
  int Left() const override { return PlaceInParent(handle_).left; }
  int Width() const override {
    const RECT place = PlaceInParent(handle_);
    return place.right - place.left;
  }
  void SetWidth(int width) override {
    SetWindowPos(handle_, nullptr, 0, 0, width, height_,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  HWND Handle() const { return handle_; }

 protected:
  HWND handle_;
  int height_;
};

// A static text in a colour of its own (centred unless told otherwise); clicks arrive as
// STN_CLICKED / STN_DBLCLK.
// A text; the user's click (STN_CLICKED) and double click (STN_DBLCLK) run OnClick and
// OnDoubleClick.
class Win32Label : public Label, public Win32Notified {
 public:
  Win32Label(HWND parent, int id, const RECT& place, const std::string& text, Color color,
             DWORD alignment = SS_CENTER);
  void SetText(const std::string& text) override;
  std::string Text() const override { return text_; }
  void SetColor(Color color) override;
  Color TextColor() const override { return color_; }
  void Command(UINT code) override;
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

class Win32Button : public Button, public Win32Notified {
 public:
  Win32Button(HWND parent, int id, const RECT& place, const wchar_t* caption);
  HWND Handle() const { return handle_; }
  void Command(UINT code) override;

 private:
  HWND handle_;
};

// A small push button that the window code can hide.
class Win32SpeedButton : public Win32Control<SpeedButton>, public Win32Notified {
 public:
  Win32SpeedButton(HWND parent, int id, const RECT& place, const wchar_t* caption);
  void Command(UINT code) override;
};

// A check box; the user's click (BN_CLICKED) runs OnClick after the box has changed.
class Win32CheckBox : public CheckBox, public Win32Notified {
 public:
  Win32CheckBox(HWND parent, int id, const RECT& place, const std::string& caption);
  void SetChecked(bool checked) override;
  bool Checked() const override;
  void Command(UINT code) override;
  HWND Handle() const { return handle_; }

 private:
  HWND handle_;
};

// A group whose caption is a check box: the box sits on the frame's top edge, and while it
// is unchecked the controls added to the group are disabled, whoever unchecked it. The
// window paints the frame at `Place()`.
class Win32CheckGroup : public CheckGroup, public Win32Notified {
 public:
  Win32CheckGroup(HWND parent, int id, const RECT& place, const std::string& caption);
  void SetChecked(bool checked) override;
  bool Checked() const override;
  int ClientWidth() const override { return place_.right - place_.left; }
  void Command(UINT code) override;
  // A control inside the group, enabled only while the group is checked.
  void Add(HWND control);
  // The caption's font; the box grows or shrinks to its text.
  void SetTitleFont(HGDIOBJ font);
  const RECT& Place() const { return place_; }
  HWND Handle() const { return handle_; }

 private:
  void EnableMembers() const;

  HWND handle_;
  RECT place_;
  std::vector<HWND> members_;
};

// A fixed drop-down list (CBS_DROPDOWNLIST). The user's choice runs OnChange once: a change
// of the closed list at once (CBN_SELCHANGE), a choice in the dropped list when the list is
// closed with it (CBN_SELENDOK), also when the same item is chosen again, whichever order
// the system reports the closing and the change in.
class Win32DropDownList : public Win32Control<DropDownList>, public Win32Notified {
 public:
  // `place` is the closed field's place; its height is the dropped list's.
  Win32DropDownList(HWND parent, int id, const RECT& place);
  void SetItems(const std::vector<std::string>& items) override;
  int Count() const override { return static_cast<int>(items_.size()); }
  std::string Item(int index) const override;
  int ItemIndex() const override;
  void Command(UINT code) override;

 protected:
  void ShowSelection(int index) override;

 private:
  static constexpr int kNone = -2;  // no index, not even "no selection"
  void CloseWith(bool chosen);

  std::vector<std::string> items_;
  bool dropped_ = false;
  int selectionAtDrop_ = -1;
  int closedWith_ = kNone;
};

// A horizontal trackbar. A move by the user (WM_HSCROLL) runs OnChange when the position
// changed.
class Win32Slider : public Win32Control<Slider>, public Win32Notified {
 public:
  Win32Slider(HWND parent, int id, const RECT& place, int minimum, int maximum, int step,
              int position);
  int Position() const override;
  int Minimum() const override { return minimum_; }
  int Maximum() const override { return maximum_; }
  void Scrolled() override;

 protected:
  void ShowPosition(int value) override;

 private:
  int minimum_;
  int maximum_;
  int shown_;
};

// A number field with an up-down control at its right edge, showing the given number of
// decimals. A value set from code is kept exactly until the user changes the field; a typed
// number is clamped to the range and rounded to the decimals; the arrows step by 1. A field
// left with text that is no number shows the value again.
class Win32SpinEdit : public SpinEdit, public Win32Notified {
 public:
  Win32SpinEdit(HWND parent, int id, const RECT& place, double minimum, double maximum,
                int decimals, double value);
  double Value() const override { return value_; }
  double Minimum() const override { return minimum_; }
  double Maximum() const override { return maximum_; }
  void Command(UINT code) override;
  bool Notify(const NMHDR& header, LRESULT& result) override;
  HWND Handle() const { return edit_; }
  HWND UpDown() const { return upDown_; }

 protected:
  void ShowValue(double value) override;

 private:
  void ShowText();
  HWND edit_;
  HWND upDown_;
  double minimum_;
  double maximum_;
  int decimals_;
  double value_;
  bool showing_ = false;
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
  // The shell's notification area was created anew (Explorer restarted) and knows no icon:
  // a shown icon is added again, or a window hidden to it could not be reached.
  void ShellRestarted();
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
