#pragma once
// A container of other widgets, shown or hidden as a whole.
namespace calvora::ui {

class Panel {
 public:
  virtual ~Panel() = default;
  virtual void SetVisible(bool visible) = 0;
  virtual bool Visible() const = 0;
  virtual int ClientHeight() const = 0;
  virtual void SetClientHeight(int height) = 0;
};

}  // namespace calvora::ui
