#include "ui/qt/RenderToPng.h"

#include <QPixmap>
#include <QWidget>

namespace calvora::ui::qt {

bool RenderToPng(QWidget& widget, const QString& path) {
  widget.ensurePolished();
  return widget.grab().save(path, "PNG");
}

}  // namespace calvora::ui::qt
