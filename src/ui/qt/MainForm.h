#pragma once
// The main window's form: its widgets, where they sit, and the window frame's events.
#include <QWidget>
#include <memory>

#include "ui/MainFormLayout.h"
#include "ui/Window.h"
#include "ui/qt/QtRoles.h"

class QGroupBox;
class QFrame;

namespace calvora::ui::qt {

class MainForm : public QWidget, public Window, public MainFormLayout {
 public:
  MainForm();
  ~MainForm() override;

  // ui::Window
  void SetCaption(const std::string& caption) override;
  std::string Caption() const override;
  void SetClientHeight(int height) override;
  int ClientHeight() const override { return height(); }
  void Minimize() override;
  void HideFromDesktop() override;
  void Restore() override;
  bool ShownOnDesktop() const override;
  void Close() override;
  bool Closed() const override { return closed_; }

  // Shows the window centred on the screen, unless it was minimized or hidden before.
  void ShowAtStart();

  QtPanel PanWork;
  QtPanel PanCard;
  QtGauge* SGCard;
  QtLabel* LabCard;
  QtPanel PanLed;
  QtImage* ImgLed;
  QtPanel PanMixer;
  QtGauge* SGMixer;
  QtLabel* LabMixer;
  QtGauge* SGLevel;
  QtLabel* LabSilence;
  QtPanel PanSett;
  QtButton* SBSettings;
  QtTrayIcon TrayIcon;
  QtMessageBox MSG;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  enum class StartState { Normal, Minimized, Hidden };
  StartState startState_ = StartState::Normal;
  bool started_ = false;
  bool closed_ = false;
  bool inFrameEvent_ = false;
};

// Loads the skin (style sheet and icons carried in the program) into the application.
void ApplySkin();

// Names the application `title` and loads the skin. The window may live in the tray with no
// window shown, so the program ends when its main window closes, not with the last one.
void PrepareApplication(const char* title);

}  // namespace calvora::ui::qt
