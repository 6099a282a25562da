#pragma once
// Modal message boxes. They process events while they wait for the user.
#include <string>

namespace calvora::ui {

class MessageBox {
 public:
  virtual ~MessageBox() = default;
  // A confirmation with the buttons Yes and No; true only for Yes.
  virtual bool ConfirmYesNo(const std::string& text) = 0;
  // The application's error box.
  virtual void ShowError(const std::string& text) = 0;
};

}  // namespace calvora::ui
