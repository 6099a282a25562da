#pragma once
// A text label with a colour: the device status words, the "Level" label.
#include <functional>
#include <string>

#include "ui/Color.h"

namespace calvora::ui {

class Label {
 public:
  virtual ~Label() = default;
  virtual void SetText(const std::string& text) = 0;
  virtual std::string Text() const = 0;
  virtual void SetColor(Color color) = 0;
  virtual Color TextColor() const = 0;

  std::function<void()> OnClick;
  std::function<void()> OnDoubleClick;
};

}  // namespace calvora::ui
