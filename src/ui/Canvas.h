#pragma once
// A picture to draw in: filled rectangles, transparent text and an immediate repaint.
#include <functional>
#include <string_view>

#include "ui/Color.h"

namespace calvora::ui {

struct Rect {
  int Left = 0;
  int Top = 0;
  int Right = 0;   // exclusive
  int Bottom = 0;  // exclusive
  friend bool operator==(const Rect&, const Rect&) = default;
};

class Canvas {
 public:
  virtual ~Canvas() = default;

  virtual int Width() const = 0;
  virtual int Height() const = 0;

  // Drawing happens between BeginPaint and EndPaint (the canvas lock).
  virtual void BeginPaint() = 0;
  virtual void EndPaint() = 0;

  // Fills the rectangle, right and bottom exclusive, with one colour.
  virtual void FillRect(const Rect& rect, Color color) = 0;

  // Draws text with its top-left corner at (x, y) in the canvas's default font, without
  // a background.
  virtual void DrawText(int x, int y, std::string_view text, Color color) = 0;

  // Shows what was drawn at once, not at the next idle moment.
  virtual void RepaintNow() = 0;

  // A click on the picture (the main button, released over it).
  std::function<void()> OnClick;
};

}  // namespace calvora::ui
