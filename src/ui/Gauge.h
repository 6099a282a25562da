#pragma once
// A horizontal gauge 0..100 that shows a text over its bar, or its value as a percentage.
#include <string>

namespace calvora::ui {

class Gauge {
 public:
  virtual ~Gauge() = default;
  virtual void SetProgress(int value) = 0;  // clamped to 0..100
  virtual int Progress() const = 0;
  // A gauge shows either its text over the bar or its value as a percentage.
  virtual void SetText(const std::string& text) = 0;
  virtual std::string Text() const = 0;
};

}  // namespace calvora::ui
