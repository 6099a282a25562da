#pragma once
// A modal dialog window as its logic sees it: it ends with an OK result or without one.
namespace calvora::ui {

class Dialog {
 public:
  virtual ~Dialog() = default;
  // Closes the dialog; the modal run that showed it returns ok.
  virtual void EndModal(bool ok) = 0;
};

}  // namespace calvora::ui
