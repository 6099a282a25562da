#pragma once
// A fixed drop-down list: the user picks one of its items and cannot type. The rules the
// dialogs' chains of lists rely on live here, once: selecting from code runs OnChange as a
// user's choice would, even when the index does not change; only SelectQuietly does not.
#include <functional>
#include <string>
#include <vector>

#include "platform/AsciiText.h"
#include "ui/Control.h"

namespace calvora::ui {

class DropDownList : public Control {
 public:
  // Replaces the items; nothing is selected afterwards. No handler runs.
  virtual void SetItems(const std::vector<std::string>& items) = 0;
  // Removes every item and the selection. No handler runs.
  void Clear() { SetItems({}); }
  virtual int Count() const = 0;
  virtual std::string Item(int index) const = 0;
  // The selected position; -1 when nothing is selected.
  virtual int ItemIndex() const = 0;
  // The selected item's text; empty when nothing is selected.
  std::string SelectedText() const {
    const int index = ItemIndex();
    return index >= 0 ? Item(index) : std::string();
  }

  // Selects the position (-1, or one outside the items, selects nothing and empties the
  // shown text), then runs OnChange.
  void Select(int index) {
    SelectQuietly(index);
    if (OnChange)
      OnChange();
  }
  // Selects without running OnChange.
  void SelectQuietly(int index) { ShowSelection(index >= 0 && index < Count() ? index : -1); }

  // The first item equal to the text without regard to ASCII letter case; -1 when none.
  int IndexOfIgnoringCase(const std::string& text) const;
  // The first item exactly equal to the text; -1 when none.
  int IndexOf(const std::string& text) const;

  std::function<void()> OnChange;

 protected:
  // Shows the selection (a valid index or -1) without any notification.
  virtual void ShowSelection(int index) = 0;
};

inline int DropDownList::IndexOf(const std::string& text) const {
  for (int i = 0; i < Count(); ++i)
    if (Item(i) == text)
      return i;
  return -1;
}

inline int DropDownList::IndexOfIgnoringCase(const std::string& text) const {
  for (int i = 0; i < Count(); ++i)
    if (platform::EqualsIgnoringAsciiCase(Item(i), text))
      return i;
  return -1;
}

}  // namespace calvora::ui
