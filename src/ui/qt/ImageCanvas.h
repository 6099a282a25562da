#pragma once
// A canvas on a QImage. Whoever shows the image (a widget, a PNG writer) hooks onRepaint.
#include <QImage>
#include <QPainter>
#include <functional>
#include <memory>

#include "ui/Canvas.h"

namespace calvora::ui::qt {

class ImageCanvas : public Canvas {
 public:
  ImageCanvas(int width, int height);

  int Width() const override { return image_.width(); }
  int Height() const override { return image_.height(); }
  void BeginPaint() override;
  void EndPaint() override;
  void FillRect(const Rect& rect, Color color) override;
  void DrawText(int x, int y, std::string_view text, Color color) override;
  void RepaintNow() override;

  // Resizes the picture (its content is cleared to black).
  void Resize(int width, int height);

  const QImage& Image() const { return image_; }
  std::function<void()> onRepaint;

 private:
  QPainter& Painter();

  QImage image_;
  std::unique_ptr<QPainter> painter_;
};

}  // namespace calvora::ui::qt
