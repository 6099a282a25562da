#pragma once
// The widget roles on Qt widgets: each class is the Qt widget itself, so it can be placed
// in a form like any other widget.
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <array>

#include "ui/Button.h"
#include "ui/CheckBox.h"
#include "ui/DropDownList.h"
#include "ui/Gauge.h"
#include "ui/Label.h"
#include "ui/MessageBox.h"
#include "ui/Panel.h"
#include "ui/Slider.h"
#include "ui/SpeedButton.h"
#include "ui/SpinEdit.h"
#include "ui/TrayIcon.h"
#include "ui/qt/ImageCanvas.h"

namespace calvora::ui::qt {

class QtGauge : public QProgressBar, public Gauge {
 public:
  enum class Shows { Text, Percentage };
  QtGauge(Shows shows, QWidget* parent);
  void SetProgress(int value) override;
  int Progress() const override { return value(); }
  void SetText(const std::string& text) override;
  std::string Text() const override { return text_; }

 private:
  Shows shows_;
  std::string text_;
};

class QtLabel : public QLabel, public Label {
 public:
  QtLabel(const QString& text, QWidget* parent);
  void SetText(const std::string& text) override;
  std::string Text() const override;
  void SetColor(Color color) override;
  Color TextColor() const override { return color_; }

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  Color color_{};
};

// A panel role over any container widget (a group box, a frame).
class QtPanel : public Panel {
 public:
  explicit QtPanel(QWidget* widget) : widget_(widget) {}
  void SetVisible(bool visible) override { widget_->setVisible(visible); }
  bool Visible() const override { return !widget_->isHidden(); }
  int ClientHeight() const override { return widget_->height(); }
  void SetClientHeight(int height) override { widget_->setFixedHeight(height); }
  QWidget* Widget() const { return widget_; }

 private:
  QWidget* widget_;
};

class QtButton : public QPushButton, public Button {
 public:
  QtButton(const QString& caption, QWidget* parent);
};

// A widget that shows an ImageCanvas, repaints as soon as the canvas asks and passes clicks
// on to the canvas's OnClick.
class QtImage : public QWidget {
 public:
  QtImage(int width, int height, QWidget* parent);
  ImageCanvas& Canvas() { return canvas_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  ImageCanvas canvas_;
};

// The notification-area icon, animated through its eight images every 70 ms while shown.
class QtTrayIcon : public QObject, public TrayIcon {
 public:
  explicit QtTrayIcon(QObject* parent);
  void SetHint(const std::string& hint) override;
  std::string Hint() const override;
  void SetVisible(bool visible) override;
  bool Visible() const override { return icon_.isVisible(); }
  int ImageIndex() const override { return imageIndex_; }
  bool Available() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }

 private:
  void NextImage();

  QSystemTrayIcon icon_;
  QTimer animation_;
  std::array<QIcon, 8> images_;
  int imageIndex_ = 2;
};

// Visibility and horizontal extent of a placed Qt widget, for the roles that have them.
template <typename Widget, typename Role>
class QtControl : public Widget, public Role {
 public:
  using Widget::Widget;
  void SetVisible(bool visible) override { Widget::setVisible(visible); }
  bool Visible() const override { return !Widget::isHidden(); }
  int Left() const override { return Widget::x(); }
  int Width() const override { return Widget::width(); }
  void SetWidth(int width) override { Widget::resize(width, Widget::height()); }
};

class QtCheckBox : public QCheckBox, public CheckBox {
 public:
  QtCheckBox(const QString& caption, QWidget* parent);
  void SetChecked(bool checked) override;
  bool Checked() const override { return isChecked(); }
};

// A group box with a check box in its caption; Qt disables its children while unchecked.
class QtCheckGroup : public QGroupBox, public CheckGroup {
 public:
  QtCheckGroup(const QString& caption, QWidget* parent);
  void SetChecked(bool checked) override;
  bool Checked() const override { return isChecked(); }
  int ClientWidth() const override { return width(); }
};

// A fixed drop-down list: the user's choice arrives as "activated", also for the same item.
class QtDropDownList : public QtControl<QComboBox, DropDownList> {
 public:
  explicit QtDropDownList(QWidget* parent);
  void SetItems(const std::vector<std::string>& items) override;
  int Count() const override { return count(); }
  std::string Item(int index) const override { return itemText(index).toStdString(); }
  int ItemIndex() const override { return currentIndex(); }

 protected:
  void ShowSelection(int index) override;
};

class QtSlider : public QtControl<QSlider, Slider> {
 public:
  QtSlider(int minimum, int maximum, int step, int position, QWidget* parent);
  int Position() const override { return value(); }
  int Minimum() const override { return minimum(); }
  int Maximum() const override { return maximum(); }

 protected:
  void ShowPosition(int value) override;
};

// A spin edit with the given number of decimals. A value set from code is kept exactly until
// the user changes the field, whatever the field shows.
class QtSpinEdit : public QDoubleSpinBox, public SpinEdit {
 public:
  QtSpinEdit(double minimum, double maximum, int decimals, double value, QWidget* parent);
  double Value() const override { return value_; }
  double Minimum() const override { return minimum(); }
  double Maximum() const override { return maximum(); }

 protected:
  void ShowValue(double value) override;

 private:
  double value_;
};

class QtSpeedButton : public QtControl<QPushButton, SpeedButton> {
 public:
  QtSpeedButton(const QString& caption, QWidget* parent);
};

class QtMessageBox : public MessageBox {
 public:
  QtMessageBox(QWidget* parent, QString title) : parent_(parent), title_(std::move(title)) {}
  bool ConfirmYesNo(const std::string& text) override;
  void ShowError(const std::string& text) override;

 private:
  QWidget* parent_;
  QString title_;
};

}  // namespace calvora::ui::qt
