#pragma once
// A check box. Setting it from code runs no handler; a click by the user runs OnClick after
// the box has changed.
#include <functional>

namespace calvora::ui {

class CheckBox {
 public:
  virtual ~CheckBox() = default;
  virtual void SetChecked(bool checked) = 0;
  virtual bool Checked() const = 0;

  std::function<void()> OnClick;
};

// A group box whose caption is a check box: unchecking it disables the controls inside.
class CheckGroup : public CheckBox {
 public:
  // Width of the area inside the frame, where the group's controls are placed.
  virtual int ClientWidth() const = 0;
};

}  // namespace calvora::ui
