// The real window on offscreen Qt: the widgets in their places, rendered to a PNG.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>
#include <filesystem>

#include "FormWidgets.h"
#include "VirtualDesktop.h"
#include "VirtualMixerDevices.h"
#include "VirtualWaveInput.h"
#include "app/Main.h"
#include "meter/LedMetter.h"
#include "platform/posix/PosixClock.h"
#include "platform/qt/QtTimers.h"
#include "platform/qt/SessionEnd.h"
#include "ui/qt/MainForm.h"
#include "ui/qt/RenderToPng.h"

namespace calvora {
namespace {

namespace fs = std::filesystem;

class MainWindowOnQt : public ::testing::Test {
 protected:
  MainWindowOnQt() {
    dir = fs::temp_directory_path() / ("calvora-render-" + std::to_string(::getpid()));
  }
  ~MainWindowOnQt() override { fs::remove_all(dir); }

  std::unique_ptr<app::TCV_AudioMixer> Create(ui::qt::MainForm& form, const std::string& ini) {
    settingsFolder = std::make_unique<SettingsFolder>(dir, ini);
    const app::MainWindowWidgets widgets = FormWidgets(form);
    app::MainWindowServices services{clock,     timers,       desktop,
                                     waveInput, mixerDevices, settingsFolder->store,
                                     "1.0.0.1", nullptr,      nullptr};
    return std::make_unique<app::TCV_AudioMixer>(widgets, std::move(services));
  }

  fs::path dir;
  platform::posix::PosixClock clock;
  platform::qt::QtTimers timers;
  testing::VirtualDesktop desktop;
  testing::VirtualWaveInput waveInput;
  testing::VirtualMixerDevices mixerDevices;
  std::unique_ptr<SettingsFolder> settingsFolder;
};

bool IsDark(QRgb c) {
  return qRed(c) < 40 && qGreen(c) < 40 && qBlue(c) < 40;
}

TEST_F(MainWindowOnQt, BothPanelsRenderAsAFinishedWindow) {
  ui::qt::MainForm form;
  auto window = Create(form, "[Settings]\nUseSoundCard=1\nUseMixer=1\n");
  // The form's own texts, before the first work tick can run the device checks.
  EXPECT_EQ(form.LabCard->text().toStdString(), "STOP");
  EXPECT_EQ(form.LabMixer->text().toStdString(), "STOP");
  form.ShowAtStart();
  QApplication::processEvents();

  EXPECT_EQ(form.windowTitle().toStdString(), "Calvora Audio Mixer 1.0.0.1");
  EXPECT_EQ(form.width(), 438);
  EXPECT_EQ(form.height(), 80 + 68 + 37);
  EXPECT_EQ(form.LabSilence->text().toStdString(), "Level");
  EXPECT_EQ(form.SBSettings->text().toStdString(), "Settings");
  EXPECT_EQ(form.ImgLed->width(), 426);
  EXPECT_EQ(form.ImgLed->height(), 26);

  // Everything sits inside the window, the meter in the sound-card panel, the button below both.
  const QRect led(form.ImgLed->mapTo(&form, QPoint(0, 0)), form.ImgLed->size());
  const QRect button(form.SBSettings->mapTo(&form, QPoint(0, 0)), form.SBSettings->size());
  const QRect level(form.LabSilence->mapTo(&form, QPoint(0, 0)), form.LabSilence->size());
  EXPECT_TRUE(form.rect().contains(led));
  EXPECT_TRUE(form.rect().contains(button));
  EXPECT_LT(led.bottom(), 80);
  EXPECT_GT(level.top(), 80);
  EXPECT_GT(button.top(), 80 + 68 - 1);

  const QString png = QString::fromStdString(CALVORA_TEST_OUTPUT_DIR "/main-window.png");
  ASSERT_TRUE(ui::qt::RenderToPng(form, png));
  QImage shot(png);
  ASSERT_FALSE(shot.isNull());
  // The meter is built unlit on black: an unlit green LED, and black between the rows.
  EXPECT_EQ(QColor(shot.pixel(led.topLeft() + QPoint(5, 3))), QColor(0, 128, 0));
  EXPECT_TRUE(IsDark(shot.pixel(led.topLeft() + QPoint(300, 12))));

  window.reset();
}

TEST_F(MainWindowOnQt, MixerOnlyLayoutHidesTheSoundCardPanel) {
  ui::qt::MainForm form;
  auto window = Create(form, "[Settings]\nUseSoundCard=0\nUseMixer=1\n");
  form.ShowAtStart();
  QApplication::processEvents();
  EXPECT_EQ(form.height(), 68 + 37);
  EXPECT_TRUE(form.PanCard.Widget()->isHidden());
  EXPECT_FALSE(form.PanMixer.Widget()->isHidden());
  EXPECT_EQ(form.PanMixer.Widget()->mapTo(&form, QPoint(0, 0)).y(), 0);
  ASSERT_TRUE(ui::qt::RenderToPng(
      form, QString::fromStdString(CALVORA_TEST_OUTPUT_DIR "/main-window-mixer-only.png")));
}

TEST_F(MainWindowOnQt, SessionEndClosesTheWindowWithoutAsking) {
  ui::qt::MainForm form;
  auto window = Create(form, "[Settings]\nSourceMode=1\n");
  form.ShowAtStart();
  window->WMSystem_Shutdown_Query();
  EXPECT_TRUE(form.Closed());
  EXPECT_TRUE(form.isHidden());
}

TEST_F(MainWindowOnQt, StatusWordsAreBoldSixteenPixelsAndTheFormHasNoTooltip) {
  ui::qt::MainForm form;
  auto window = Create(form, "[Settings]\nUseSoundCard=1\nUseMixer=1\n");
  form.ShowAtStart();
  QApplication::processEvents();
  form.LabCard->ensurePolished();
  EXPECT_TRUE(form.LabCard->font().bold());
  EXPECT_EQ(form.LabCard->font().pixelSize(), 16);
  EXPECT_TRUE(form.toolTip().isEmpty());
}

TEST_F(MainWindowOnQt, AClickOnTheMeterSwitchesItsScale) {
  ui::qt::MainForm form;
  auto window = Create(form, "[Settings]\nUseSoundCard=1\n");
  form.ShowAtStart();
  QApplication::processEvents();
  const int before = meter::LedStyle(0);
  const QPointF at(10, 10);
  QMouseEvent press(QEvent::MouseButtonPress, at, form.ImgLed->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, form.ImgLed->mapToGlobal(at), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(form.ImgLed, &press);
  QApplication::sendEvent(form.ImgLed, &release);
  EXPECT_EQ(meter::LedStyle(0), (before + 1) % 4);
}

TEST_F(MainWindowOnQt, TheSessionManagersQuitClosesWithoutAsking) {
  ui::qt::MainForm form;
  auto window = Create(form, "[Settings]\nSourceMode=1\n");
  platform::qt::SessionEnd sessionEnd([&form] { return !form.Closed(); },
                                      [&window] { window->WMSystem_Shutdown_Query(); });
  form.ShowAtStart();
  QApplication::processEvents();
  EXPECT_FALSE(form.Closed());
  // Should the window ask, the question is answered No so that the test cannot hang.
  bool asked = false;
  QTimer::singleShot(200, [&asked] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      asked = true;
      box->reject();
    }
  });
  QEvent quit(QEvent::Quit);
  QCoreApplication::sendEvent(qApp, &quit);
  EXPECT_TRUE(form.Closed());
  EXPECT_FALSE(asked);
}

TEST_F(MainWindowOnQt, TrayIconAnimatesOnlyWhileShown) {
  ui::qt::MainForm form;
  EXPECT_EQ(form.TrayIcon.ImageIndex(), 2);
  form.TrayIcon.SetVisible(true);
  QElapsedTimer waited;
  waited.start();
  // Eight images at 70 ms: within a few seconds the animation has moved on.
  while (form.TrayIcon.ImageIndex() == 2 && waited.elapsed() < 5000)
    QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  EXPECT_NE(form.TrayIcon.ImageIndex(), 2);
  form.TrayIcon.SetVisible(false);
  const int stoppedAt = form.TrayIcon.ImageIndex();
  QElapsedTimer idle;
  idle.start();
  while (idle.elapsed() < 300)
    QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  EXPECT_EQ(form.TrayIcon.ImageIndex(), stoppedAt);
}

}  // namespace
}  // namespace calvora

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  calvora::ui::qt::PrepareApplication("Calvora Audio Mixer");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
