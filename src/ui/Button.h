#pragma once
#include <functional>

namespace calvora::ui {

class Button {
 public:
  virtual ~Button() = default;
  virtual void Click() {
    if (OnClick)
      OnClick();
  }
  std::function<void()> OnClick;
};

}  // namespace calvora::ui
