#pragma once
// A number field with up and down buttons over a range. A value set from code is clamped to
// the range and otherwise kept exactly as given, whatever number of decimals is shown.
#include <algorithm>

namespace calvora::ui {

class SpinEdit {
 public:
  virtual ~SpinEdit() = default;
  virtual double Value() const = 0;
  virtual double Minimum() const = 0;
  virtual double Maximum() const = 0;
  void SetValue(double value) { ShowValue(std::clamp(value, Minimum(), Maximum())); }

 protected:
  virtual void ShowValue(double value) = 0;
};

}  // namespace calvora::ui
