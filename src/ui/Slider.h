#pragma once
// A horizontal slider over a whole-number range. Setting it from code clamps the value to
// the range and runs OnChange only when the position changes; the user's moves run OnChange
// too.
#include <algorithm>
#include <functional>

#include "ui/Control.h"

namespace calvora::ui {

class Slider : public Control {
 public:
  virtual int Position() const = 0;
  virtual int Minimum() const = 0;
  virtual int Maximum() const = 0;

  void SetPosition(int value) {
    value = std::clamp(value, Minimum(), Maximum());
    if (value == Position())
      return;
    ShowPosition(value);
    if (OnChange)
      OnChange();
  }

  std::function<void()> OnChange;

 protected:
  // Moves the slider to a value inside the range without any notification.
  virtual void ShowPosition(int value) = 0;
};

}  // namespace calvora::ui
