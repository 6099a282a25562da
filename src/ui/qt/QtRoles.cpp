#include "ui/qt/QtRoles.h"

#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <algorithm>

namespace calvora::ui::qt {

namespace {
constexpr int kTrayFrameMs = 70;
QString ToQString(const std::string& s) {
  return QString::fromStdString(s);
}
}  // namespace

QtGauge::QtGauge(Shows shows, QWidget* parent) : QProgressBar(parent), shows_(shows) {
  setRange(0, 100);
  setValue(0);
  setTextVisible(true);
  setFormat(shows_ == Shows::Percentage ? "%p%" : "");
}

void QtGauge::SetProgress(int value) {
  setValue(std::clamp(value, 0, 100));
}

void QtGauge::SetText(const std::string& text) {
  text_ = text;
  if (shows_ == Shows::Percentage)
    return;
  // A '%' in a device name must not be taken for one of the bar's placeholders.
  setFormat(ToQString(text).replace('%', "%%"));
}

QtLabel::QtLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

void QtLabel::SetText(const std::string& text) {
  setText(ToQString(text));
}

std::string QtLabel::Text() const {
  return text().toStdString();
}

void QtLabel::SetColor(Color color) {
  color_ = color;
  QPalette p = palette();
  p.setColor(QPalette::WindowText, QColor(color.R, color.G, color.B));
  setPalette(p);
  setStyleSheet(QString("color: rgb(%1, %2, %3);").arg(color.R).arg(color.G).arg(color.B));
}

void QtLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && OnClick)
    OnClick();
}

void QtLabel::mouseDoubleClickEvent(QMouseEvent* event) {
  QLabel::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton && OnDoubleClick)
    OnDoubleClick();
}

QtButton::QtButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
  connect(this, &QPushButton::clicked, [this] {
    if (OnClick)
      OnClick();
  });
}

QtImage::QtImage(int width, int height, QWidget* parent) : QWidget(parent), canvas_(width, height) {
  setFixedSize(width, height);
  setAttribute(Qt::WA_OpaquePaintEvent);
  // The meter is drawn at up to 100 frames a second: paint now, not at the next idle moment.
  canvas_.onRepaint = [this] { repaint(); };
}

void QtImage::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, canvas_.Image());
}

void QtImage::mouseReleaseEvent(QMouseEvent* event) {
  QWidget::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
      canvas_.OnClick)
    canvas_.OnClick();
}

QtTrayIcon::QtTrayIcon(QObject* parent) : QObject(parent), icon_(this), animation_(this) {
  for (size_t i = 0; i < images_.size(); ++i)
    images_[i] = QIcon(QString(":/skin/tray%1.png").arg(i));
  icon_.setIcon(images_[static_cast<size_t>(imageIndex_)]);
  animation_.setInterval(kTrayFrameMs);
  connect(&animation_, &QTimer::timeout, this, [this] { NextImage(); });
  connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
    if (r == QSystemTrayIcon::DoubleClick && OnDoubleClick)
      OnDoubleClick();
  });
}

void QtTrayIcon::SetHint(const std::string& hint) {
  icon_.setToolTip(ToQString(hint));
}

std::string QtTrayIcon::Hint() const {
  return icon_.toolTip().toStdString();
}

void QtTrayIcon::SetVisible(bool visible) {
  icon_.setVisible(visible);
  // The animation runs only while the icon can be seen.
  if (visible)
    animation_.start();
  else
    animation_.stop();
}

void QtTrayIcon::NextImage() {
  imageIndex_ = (imageIndex_ + 1) % static_cast<int>(images_.size());
  icon_.setIcon(images_[static_cast<size_t>(imageIndex_)]);
}

QtCheckBox::QtCheckBox(const QString& caption, QWidget* parent) : QCheckBox(caption, parent) {
  connect(this, &QCheckBox::clicked, [this] {
    if (OnClick)
      OnClick();
  });
}

void QtCheckBox::SetChecked(bool checked) {
  const QSignalBlocker quiet(this);
  setChecked(checked);
}

QtCheckGroup::QtCheckGroup(const QString& caption, QWidget* parent) : QGroupBox(caption, parent) {
  setCheckable(true);
  connect(this, &QGroupBox::clicked, [this] {
    if (OnClick)
      OnClick();
  });
}

void QtCheckGroup::SetChecked(bool checked) {
  const QSignalBlocker quiet(this);
  setChecked(checked);
}

QtDropDownList::QtDropDownList(QWidget* parent) : QtControl(parent) {
  setEditable(false);
  connect(this, &QComboBox::activated, [this](int index) { Select(index); });
}

void QtDropDownList::SetItems(const std::vector<std::string>& items) {
  const QSignalBlocker quiet(this);
  clear();
  for (const std::string& item : items)
    addItem(ToQString(item));
  setCurrentIndex(-1);
}

void QtDropDownList::ShowSelection(int index) {
  const QSignalBlocker quiet(this);
  setCurrentIndex(index);
}

QtSlider::QtSlider(int minimum, int maximum, int step, int position, QWidget* parent)
    : QtControl(Qt::Horizontal, parent) {
  setRange(minimum, maximum);
  setSingleStep(step);
  setPageStep(step);
  setValue(position);
  // Moves from code are made with the signal blocked; what arrives here is the user's.
  connect(this, &QSlider::valueChanged, [this] {
    if (OnChange)
      OnChange();
  });
}

void QtSlider::ShowPosition(int value) {
  const QSignalBlocker quiet(this);
  setValue(value);
}

QtSpinEdit::QtSpinEdit(double minimum, double maximum, int decimals, double value, QWidget* parent)
    : QDoubleSpinBox(parent), value_(value) {
  setDecimals(decimals);
  setRange(minimum, maximum);
  setSingleStep(1);
  setValue(value);
  connect(this, &QDoubleSpinBox::valueChanged, [this](double typed) { value_ = typed; });
}

void QtSpinEdit::ShowValue(double value) {
  value_ = value;
  const QSignalBlocker quiet(this);
  setValue(value);
}

QtSpeedButton::QtSpeedButton(const QString& caption, QWidget* parent) : QtControl(caption, parent) {
  connect(this, &QPushButton::clicked, [this] { Click(); });
}

bool QtMessageBox::ConfirmYesNo(const std::string& text) {
  return QMessageBox::question(parent_, title_, ToQString(text), QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

void QtMessageBox::ShowError(const std::string& text) {
  QMessageBox::critical(parent_, title_, ToQString(text));
}

}  // namespace calvora::ui::qt
