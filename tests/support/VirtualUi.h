#pragma once
// In-memory widgets behind the roles: they remember what the window code set and let a test
// click, double-click and answer message boxes.
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ui/Button.h"
#include "ui/Canvas.h"
#include "ui/CheckBox.h"
#include "ui/Dialog.h"
#include "ui/DropDownList.h"
#include "ui/Gauge.h"
#include "ui/Label.h"
#include "ui/MessageBox.h"
#include "ui/Panel.h"
#include "ui/Slider.h"
#include "ui/SpeedButton.h"
#include "ui/SpinEdit.h"
#include "ui/TrayIcon.h"
#include "ui/Window.h"

namespace calvora::testing {

class VirtualGauge : public ui::Gauge {
 public:
  void SetProgress(int value) override { progress = value < 0 ? 0 : (value > 100 ? 100 : value); }
  int Progress() const override { return progress; }
  void SetText(const std::string& t) override { text = t; }
  std::string Text() const override { return text; }
  int progress = 0;
  std::string text;
};

class VirtualLabel : public ui::Label {
 public:
  explicit VirtualLabel(std::string t = {}) : text(std::move(t)) {}
  void SetText(const std::string& t) override { text = t; }
  std::string Text() const override { return text; }
  void SetColor(ui::Color c) override { color = c; }
  ui::Color TextColor() const override { return color; }
  std::string text;
  ui::Color color{};
};

class VirtualPanel : public ui::Panel {
 public:
  explicit VirtualPanel(int height = 0) : height_(height) {}
  void SetVisible(bool v) override { visible_ = v; }
  bool Visible() const override { return visible_; }
  int ClientHeight() const override { return height_; }
  void SetClientHeight(int h) override { height_ = h; }

 private:
  bool visible_ = true;
  int height_;
};

class VirtualTrayIcon : public ui::TrayIcon {
 public:
  void SetHint(const std::string& h) override { hint = h; }
  std::string Hint() const override { return hint; }
  void SetVisible(bool v) override { visible = v; }
  bool Visible() const override { return visible; }
  int ImageIndex() const override { return 2; }
  bool Available() const override { return available; }
  std::string hint;
  bool visible = false;
  bool available = true;
};

// Answers confirmations from a queue (No when empty) and records every box shown.
class VirtualMessageBox : public ui::MessageBox {
 public:
  bool ConfirmYesNo(const std::string& text) override {
    confirmations.push_back(text);
    if (onShow)
      onShow();
    if (answers.empty())
      return false;
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
  }
  void ShowError(const std::string& text) override { errors.push_back(text); }
  std::deque<bool> answers;
  std::vector<std::string> confirmations;
  std::vector<std::string> errors;
  // Runs while a box is shown, as events do while a modal box waits.
  std::function<void()> onShow;
};

class VirtualWindow : public ui::Window {
 public:
  enum class State { Normal, Minimized, Hidden };
  void SetCaption(const std::string& c) override { caption = c; }
  std::string Caption() const override { return caption; }
  void SetClientHeight(int h) override { clientHeight = h; }
  int ClientHeight() const override { return clientHeight; }
  void Minimize() override { state = State::Minimized; }
  void HideFromDesktop() override { state = State::Hidden; }
  void Restore() override { state = State::Normal; }
  bool ShownOnDesktop() const override { return state == State::Normal; }
  void Close() override {
    if (!OnCloseQuery || OnCloseQuery())
      closed = true;
  }
  bool Closed() const override { return closed; }

  std::string caption;
  int clientHeight = 0;
  State state = State::Normal;
  bool closed = false;
};

// A canvas that records what was drawn.
class VirtualCanvas : public ui::Canvas {
 public:
  VirtualCanvas(int width, int height) : width_(width), height_(height) {}
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  void BeginPaint() override { ++paints; }
  void EndPaint() override {}
  void FillRect(const ui::Rect& r, ui::Color c) override { rects.push_back({r, c}); }
  void DrawText(int x, int y, std::string_view t, ui::Color c) override {
    texts.push_back({x, y, std::string(t), c});
  }
  void RepaintNow() override { ++repaints; }

  struct Fill {
    ui::Rect rect;
    ui::Color color;
  };
  struct Text {
    int x, y;
    std::string text;
    ui::Color color;
  };
  std::vector<Fill> rects;
  std::vector<Text> texts;
  int paints = 0;
  int repaints = 0;

 private:
  int width_, height_;
};

// Visibility and horizontal extent, shared by the virtual placed controls.
template <typename Role>
class VirtualControl : public Role {
 public:
  void SetVisible(bool v) override { visible = v; }
  bool Visible() const override { return visible; }
  int Left() const override { return left; }
  int Width() const override { return width; }
  void SetWidth(int w) override { width = w; }
  bool visible = true;
  int left = 0;
  int width = 100;
};

class VirtualCheckBox : public ui::CheckBox {
 public:
  void SetChecked(bool c) override { checked = c; }
  bool Checked() const override { return checked; }
  // The user clicks the box.
  void UserClick() {
    checked = !checked;
    if (OnClick)
      OnClick();
  }
  bool checked = false;
};

class VirtualCheckGroup : public ui::CheckGroup {
 public:
  explicit VirtualCheckGroup(int clientWidth = 0) : clientWidth_(clientWidth) {}
  void SetChecked(bool c) override { checked = c; }
  bool Checked() const override { return checked; }
  int ClientWidth() const override { return clientWidth_; }
  bool checked = false;

 private:
  int clientWidth_;
};

class VirtualDropDownList : public VirtualControl<ui::DropDownList> {
 public:
  void SetItems(const std::vector<std::string>& i) override {
    items = i;
    index = -1;
  }
  int Count() const override { return static_cast<int>(items.size()); }
  std::string Item(int i) const override {
    return i >= 0 && i < Count() ? items[static_cast<size_t>(i)] : std::string();
  }
  int ItemIndex() const override { return index; }
  // The user picks an item.
  void UserSelect(int i) { Select(i); }
  std::vector<std::string> items;
  int index = -1;

 protected:
  void ShowSelection(int i) override { index = i; }
};

class VirtualSlider : public VirtualControl<ui::Slider> {
 public:
  VirtualSlider(int minimum, int maximum, int position)
      : minimum_(minimum), maximum_(maximum), position_(position) {}
  int Position() const override { return position_; }
  int Minimum() const override { return minimum_; }
  int Maximum() const override { return maximum_; }
  // The user drags the slider.
  void UserMove(int value) { SetPosition(value); }

 protected:
  void ShowPosition(int value) override { position_ = value; }

 private:
  int minimum_, maximum_, position_;
};

class VirtualSpinEdit : public ui::SpinEdit {
 public:
  VirtualSpinEdit(double minimum, double maximum, double value)
      : minimum_(minimum), maximum_(maximum), value_(value) {}
  double Value() const override { return value_; }
  double Minimum() const override { return minimum_; }
  double Maximum() const override { return maximum_; }

 protected:
  void ShowValue(double value) override { value_ = value; }

 private:
  double minimum_, maximum_, value_;
};

class VirtualSpeedButton : public VirtualControl<ui::SpeedButton> {};

// Remembers how the dialog ended; unset while it is open.
class VirtualDialog : public ui::Dialog {
 public:
  void EndModal(bool ok) override {
    ended = true;
    result = ok;
  }
  bool ended = false;
  bool result = false;
};

}  // namespace calvora::testing
