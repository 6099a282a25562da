#include "ui/qt/ImageCanvas.h"

#include <QFontMetrics>
#include <QString>

namespace calvora::ui::qt {

namespace {
QColor ToQColor(Color c) {
  return QColor(c.R, c.G, c.B);
}
}  // namespace

ImageCanvas::ImageCanvas(int width, int height) : image_(width, height, QImage::Format_RGB32) {
  image_.fill(Qt::black);
}

void ImageCanvas::Resize(int width, int height) {
  painter_.reset();
  image_ = QImage(width, height, QImage::Format_RGB32);
  image_.fill(Qt::black);
}

void ImageCanvas::BeginPaint() {
  Painter();
}

void ImageCanvas::EndPaint() {
  painter_.reset();
}

QPainter& ImageCanvas::Painter() {
  if (!painter_)
    painter_ = std::make_unique<QPainter>(&image_);
  return *painter_;
}

void ImageCanvas::FillRect(const Rect& rect, Color color) {
  if (rect.Right <= rect.Left || rect.Bottom <= rect.Top)
    return;
  Painter().fillRect(QRect(rect.Left, rect.Top, rect.Right - rect.Left, rect.Bottom - rect.Top),
                     ToQColor(color));
}

void ImageCanvas::DrawText(int x, int y, std::string_view text, Color color) {
  QPainter& p = Painter();
  p.setPen(ToQColor(color));
  const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  p.drawText(x, y + QFontMetrics(p.font()).ascent(), s);
}

void ImageCanvas::RepaintNow() {
  // Painting must be finished before the image is shown.
  const bool painting = painter_ != nullptr;
  painter_.reset();
  if (onRepaint)
    onRepaint();
  if (painting)
    Painter();
}

}  // namespace calvora::ui::qt
