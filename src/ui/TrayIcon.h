#pragma once
// The icon in the notification area, animated while it is shown.
#include <functional>
#include <string>

namespace calvora::ui {

class TrayIcon {
 public:
  virtual ~TrayIcon() = default;
  virtual void SetHint(const std::string& hint) = 0;
  virtual std::string Hint() const = 0;
  virtual void SetVisible(bool visible) = 0;
  virtual bool Visible() const = 0;
  // The image of the animation shown now, 0..7.
  virtual int ImageIndex() const = 0;
  // Whether the desktop has a notification area to show the icon in.
  virtual bool Available() const = 0;

  std::function<void()> OnDoubleClick;
};

}  // namespace calvora::ui
