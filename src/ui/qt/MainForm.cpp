#include "ui/qt/MainForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QScreen>
#include <QVBoxLayout>

// The skin is compiled into this library; its resources must be registered by name.
static void InitSkinResources() {
  Q_INIT_RESOURCE(skin);
}

namespace calvora::ui::qt {

namespace {

QGroupBox* MakeGroup(const QString& title, const QString& hint, const char* name, int height,
                     QWidget* parent) {
  auto* box = new QGroupBox(title, parent);
  box->setObjectName(name);
  box->setToolTip(hint);
  box->setFixedHeight(height);
  return box;
}

QFrame* MakeFrame(const char* name, QWidget* parent) {
  auto* frame = new QFrame(parent);
  frame->setObjectName(name);
  return frame;
}

template <typename T>
T* Named(T* widget, const char* name, const QString& hint) {
  widget->setObjectName(name);
  widget->setToolTip(hint);
  return widget;
}

void PlaceAt(QWidget* widget, const Box& box) {
  widget->setGeometry(box.left, box.top, box.width, box.height);
}

QtLabel* StatusLabel(const char* name, const QString& hint, QWidget* parent) {
  auto* label = Named(new QtLabel("STOP", parent), name, hint);
  label->setAlignment(Qt::AlignCenter);
  QFont f = label->font();
  f.setBold(true);
  f.setPixelSize(16);
  label->setFont(f);
  label->SetColor(colors::kRed);
  return label;
}

}  // namespace

void ApplySkin() {
  InitSkinResources();
  QFile sheet(":/skin/skin.qss");
  if (sheet.open(QIODevice::ReadOnly))
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
  QApplication::setWindowIcon(QIcon(":/skin/calvora.png"));
}

void PrepareApplication(const char* title) {
  QApplication::setApplicationName(title);
  // No display name: Qt would append it to every window title on X11, and the caption must
  // read exactly as the window sets it.
  QApplication::setQuitOnLastWindowClosed(false);
  ApplySkin();
}

MainForm::MainForm()
    : PanWork(MakeFrame("PanWork", this)),
      PanCard(MakeGroup("Soundcard", "This is soundcard part", "PanCard", kPanCardHeight,
                        PanWork.Widget())),
      PanLed(MakeFrame("PanLed", PanCard.Widget())),
      PanMixer(
          MakeGroup("Mixer", "This is mixer part", "PanMixer", kPanMixerHeight, PanWork.Widget())),
      PanSett(MakeFrame("PanSett", this)),
      TrayIcon(this),
      MSG(this, "Calvora Audio Mixer") {
  setObjectName("CalvoraMainWindow");
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);

  // The device panels stack at the top; a hidden one gives its room to the other.
  auto* work = new QVBoxLayout(PanWork.Widget());
  work->setContentsMargins(kGroupInset, 0, kGroupInset, 0);
  work->setSpacing(0);
  work->addWidget(PanCard.Widget());
  work->addWidget(PanMixer.Widget());
  work->addStretch(1);

  QWidget* card = PanCard.Widget();
  SGCard = Named(new QtGauge(QtGauge::Shows::Text, card), "SGCard", "Soundcard name");
  PlaceAt(SGCard, kSGCard);
  LabCard = StatusLabel("LabCard", "Status of soundcard", card);
  PlaceAt(LabCard, kLabCard);
  QWidget* led = PanLed.Widget();
  PlaceAt(led, kLedFrame);
  ImgLed = new QtImage(kLedWidth, kLedHeight, led);
  ImgLed->setObjectName("ImgLed");
  ImgLed->move(1, 1);
  ImgLed->setCursor(Qt::PointingHandCursor);

  QWidget* mixer = PanMixer.Widget();
  SGMixer = Named(new QtGauge(QtGauge::Shows::Text, mixer), "SGMixer", "Mixer name");
  PlaceAt(SGMixer, kSGMixer);
  LabMixer = StatusLabel("LabMixer", "Status of mixer", mixer);
  PlaceAt(LabMixer, kLabMixer);
  SGLevel = Named(new QtGauge(QtGauge::Shows::Percentage, mixer), "SGLevel", "Mixer level");
  PlaceAt(SGLevel, kSGLevel);
  LabSilence = Named(new QtLabel("Level", mixer), "LabSilence",
                     "Double click for manual mute or restore the mixer line(s)");
  PlaceAt(LabSilence, kLabSilence);
  LabSilence->setAlignment(Qt::AlignCenter);
  LabSilence->SetColor(colors::kGreen);
  LabSilence->setCursor(Qt::PointingHandCursor);

  QWidget* sett = PanSett.Widget();
  sett->setFixedHeight(kPanSettHeight);
  SBSettings = new QtButton("Settings", sett);
  SBSettings->setObjectName("SBSettings");
  PlaceAt(SBSettings, kSBSettings);

  setFixedSize(kClientWidth, kPanCardHeight + kPanMixerHeight + kPanSettHeight);
}

MainForm::~MainForm() = default;

void MainForm::SetCaption(const std::string& caption) {
  setWindowTitle(QString::fromStdString(caption));
}

std::string MainForm::Caption() const {
  return windowTitle().toStdString();
}

void MainForm::SetClientHeight(int h) {
  setFixedSize(kClientWidth, h);
}

void MainForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // PanWork is aligned to the top, PanSett to the bottom, over PanWork's empty lower part.
  PanWork.Widget()->setGeometry(0, 0, width(), PanWork.Widget()->height());
  PanWork.Widget()->setFixedWidth(width());
  PanSett.Widget()->setGeometry(0, height() - kPanSettHeight, width(), kPanSettHeight);
  PanSett.Widget()->raise();
}

void MainForm::Minimize() {
  if (!started_) {
    startState_ = StartState::Minimized;
    return;
  }
  showMinimized();
}

void MainForm::HideFromDesktop() {
  if (!started_) {
    startState_ = StartState::Hidden;
    return;
  }
  hide();
}

void MainForm::Restore() {
  started_ = true;
  showNormal();
  raise();
  activateWindow();
}

bool MainForm::ShownOnDesktop() const {
  if (!started_)
    return startState_ == StartState::Normal;
  return isVisible() && !isMinimized();
}

void MainForm::ShowAtStart() {
  started_ = true;
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
  switch (startState_) {
    case StartState::Normal:
      show();
      break;
    case StartState::Minimized:
      showMinimized();
      break;
    case StartState::Hidden:
      break;
  }
}

void MainForm::Close() {
  close();
}

void MainForm::closeEvent(QCloseEvent* event) {
  if (OnCloseQuery && !OnCloseQuery()) {
    event->ignore();
    return;
  }
  closed_ = true;
  event->accept();
  TrayIcon.SetVisible(false);
  // The program ends with its main window, even when the window was hidden in the tray.
  QCoreApplication::quit();
}

void MainForm::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || inFrameEvent_)
    return;
  const auto* change = static_cast<QWindowStateChangeEvent*>(event);
  const bool wasMinimized = change->oldState() & Qt::WindowMinimized;
  inFrameEvent_ = true;
  if (isMinimized() && !wasMinimized && OnMinimize)
    OnMinimize();
  if (!isMinimized() && wasMinimized && OnRestore)
    OnRestore();
  inFrameEvent_ = false;
}

}  // namespace calvora::ui::qt
