#pragma once
#include <QString>

class QWidget;

namespace calvora::ui::qt {

// Renders the widget and its children (shown or not) into a PNG file; false on failure.
bool RenderToPng(QWidget& widget, const QString& path);

}  // namespace calvora::ui::qt
