#pragma once
// In-memory widgets behind the roles: they remember what the window code set and let a test
// click, double-click and answer message boxes.
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ui/Button.h"
#include "ui/Canvas.h"
#include "ui/Gauge.h"
#include "ui/Label.h"
#include "ui/MessageBox.h"
#include "ui/Panel.h"
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

}  // namespace calvora::testing
