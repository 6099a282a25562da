#pragma once
// What every placed widget of a form offers the window code: visibility and the horizontal
// extent it occupies in its parent.
namespace calvora::ui {

class Control {
 public:
  virtual ~Control() = default;
  virtual void SetVisible(bool visible) = 0;
  virtual bool Visible() const = 0;
  // Left edge in the parent's client area, and width, in pixels.
  virtual int Left() const = 0;
  virtual int Width() const = 0;
  virtual void SetWidth(int width) = 0;
};

}  // namespace calvora::ui
