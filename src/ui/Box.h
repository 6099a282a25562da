#pragma once
// A widget's place on a form.
namespace calvora::ui {

// Left and top from the corner of the group or panel the widget sits in, width and height.
struct Box {
  int left;
  int top;
  int width;
  int height;
};

}  // namespace calvora::ui
