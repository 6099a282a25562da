#pragma once
// A top-level window with the events of its frame.
#include <functional>
#include <string>

namespace calvora::ui {

class Window {
 public:
  virtual ~Window() = default;
  virtual void SetCaption(const std::string& caption) = 0;
  virtual std::string Caption() const = 0;
  virtual void SetClientHeight(int height) = 0;
  virtual int ClientHeight() const = 0;

  // Minimized: iconified, or hidden from the desktop entirely (taskbar included) when the
  // window goes to the notification area.
  virtual void Minimize() = 0;
  virtual void HideFromDesktop() = 0;
  // Shows the window normally again and brings it to the front.
  virtual void Restore() = 0;
  virtual bool ShownOnDesktop() const = 0;

  // Asks the window to close; OnCloseQuery decides whether it does.
  virtual void Close() = 0;
  virtual bool Closed() const = 0;

  // Runs on a close request; returns false to keep the window open.
  std::function<bool()> OnCloseQuery;
  // The frame was minimized or restored by the user.
  std::function<void()> OnMinimize;
  std::function<void()> OnRestore;
};

}  // namespace calvora::ui
