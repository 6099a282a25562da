// The real window on offscreen Qt capturing the virtual sound card through ALSA: the panel
// and the meter as a user sees them, online and in silence, saved as screenshots; and the
// capture, served by the main loop, going on while modal dialogs hold that loop.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <filesystem>

#include "FormWidgets.h"
#include "VirtualDesktop.h"
#include "VirtualMixerDevices.h"
#include "app/Main.h"
#include "app/MainWindowStart.h"
#include "app/SettingsDialogQt.h"
#include "meter/LedMetter.h"
#include "platform/alsa/AlsaWaveInput.h"
#include "platform/posix/PosixClock.h"
#include "platform/qt/QtDescriptorWatches.h"
#include "platform/qt/QtTimers.h"
#include "ui/qt/MainForm.h"
#include "ui/qt/RenderToPng.h"

namespace calvora {
namespace {

namespace fs = std::filesystem;

class CardOnQt : public ::testing::Test {
 protected:
  CardOnQt() {
    dir = fs::temp_directory_path() / ("calvora-card-qt-" + std::to_string(::getpid()));
    fs::create_directories(dir / "card");
    setenv("CALVORA_VIRTUAL_CARD_DIR", (dir / "card").c_str(), 1);
    Programme("tone -20 1000");
    settingsFolder = std::make_unique<SettingsFolder>(
        dir,
        "[Settings]\nUseSoundCard=1\nUseMixer=0\n[Soundcard]\nCard=Calvora Virtual Capture\n"
        "Bitrate=48000\nSilenceTime=0.5\nRestoreTime=0.5\nSilenceLevel=-40\n");
    const app::MainWindowWidgets widgets = FormWidgets(form);
    app::MainWindowServices services{clock,     timers,       desktop,
                                     waveInput, mixerDevices, settingsFolder->store,
                                     "1.0.0.1", nullptr,      nullptr};
    window = app::StartMainWindow(widgets, std::move(services),
                                  [this](const settings::SettingServices& dialogServices) {
                                    return app::RunSettingsDialog(&form, dialogServices);
                                  });
    form.ShowAtStart();
  }
  ~CardOnQt() override {
    window.reset();
    fs::remove_all(dir);
  }

  void Programme(const std::string& programme) {
    const std::string command =
        std::string(CALVORA_CAPTURE_CTL) + " programme " + programme + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  // Runs the program's loop until the sound card's status word is `word`, at most 5 s.
  bool WaitForStatus(const std::string& word) {
    QElapsedTimer waited;
    waited.start();
    while (form.LabCard->Text() != word && waited.elapsed() < 5000)
      QApplication::processEvents(QEventLoop::AllEvents, 10);
    return form.LabCard->Text() == word;
  }
  void RunFor(int ms) {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ms)
      QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  // The screenshot, with the position of the first channel's LED `index` in it.
  QImage Screenshot(const char* name) {
    const QString png = QString::fromStdString(std::string(CALVORA_TEST_OUTPUT_DIR "/") + name);
    EXPECT_TRUE(ui::qt::RenderToPng(form, png));
    return QImage(png);
  }
  QColor LedPixel(const QImage& shot, size_t index) {
    const ui::Rect r = meter::Meters[0].Segments[0][index].LedRect;
    const QPoint inImage((r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2);
    return QColor(shot.pixel(form.ImgLed->mapTo(&form, inImage)));
  }
  static QColor Q(ui::Color c) { return QColor(c.R, c.G, c.B); }
  // Closes the modal dialog open `ms` from now, as a user's Escape would, and counts it.
  void CloseModalIn(int ms) {
    QTimer::singleShot(ms, Qt::PreciseTimer, [this] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        ++modalsClosed;
        modal->close();
      }
    });
  }
  int modalsClosed = 0;

  fs::path dir;
  platform::posix::PosixClock clock;
  platform::qt::QtTimers timers;
  testing::VirtualDesktop desktop;
  platform::qt::QtDescriptorWatches descriptorWatches;
  platform::alsa::AlsaWaveInput waveInput{descriptorWatches, timers};
  testing::VirtualMixerDevices mixerDevices;
  std::unique_ptr<SettingsFolder> settingsFolder;
  ui::qt::MainForm form;
  std::unique_ptr<app::TCV_AudioMixer> window;
};

TEST_F(CardOnQt, OnlineShowsTheCardAndTheMeterAtTheProgrammesLevelThenSilenceInRed) {
  ASSERT_TRUE(WaitForStatus("Online")) << form.LabCard->Text();
  EXPECT_EQ(form.LabCard->TextColor(), ui::colors::kGreen);
  EXPECT_EQ(form.SGCard->Text(), "Calvora Virtual Capture");
  RunFor(300);
  const QImage online = Screenshot("card-online.png");
  ASSERT_FALSE(online.isNull());
  // A -20 dB tone on the 24 dB scale lights the LEDs from -24 dB to about -20 dB (the meter
  // adds 0.1 dB before it cuts to whole dB), and none from -17 dB up.
  const auto& row = meter::Meters[0].Segments[0];
  ASSERT_EQ(row.size(), 25u);
  for (size_t i : {size_t{0}, size_t{4}})
    EXPECT_EQ(LedPixel(online, i), Q(row[i].OnColor)) << i;
  for (size_t i : {size_t{7}, size_t{20}})
    EXPECT_EQ(LedPixel(online, i), Q(row[i].OffColor)) << i;
  // The status word is drawn in green.
  const QRect word(form.LabCard->mapTo(&form, QPoint(0, 0)), form.LabCard->size());
  int green = 0;
  for (int y = word.top(); y <= word.bottom(); ++y)
    for (int x = word.left(); x <= word.right(); ++x)
      green += QColor(online.pixel(x, y)) == QColor(0, 128, 0) ? 1 : 0;
  EXPECT_GT(green, 20);

  Programme("silence");
  ASSERT_TRUE(WaitForStatus("Silence"));
  EXPECT_EQ(form.LabCard->TextColor(), ui::colors::kRed);
  const QImage silence = Screenshot("card-silence.png");
  ASSERT_FALSE(silence.isNull());
  EXPECT_EQ(LedPixel(silence, 0), Q(row[0].OffColor));  // nothing lit in silence
  int red = 0;
  for (int y = word.top(); y <= word.bottom(); ++y)
    for (int x = word.left(); x <= word.right(); ++x)
      red += QColor(silence.pixel(x, y)) == QColor(255, 0, 0) ? 1 : 0;
  EXPECT_GT(red, 20);
}

TEST_F(CardOnQt, ModalDialogsHoldTheLoopButTheCaptureLosesNoBlock) {
  ASSERT_TRUE(WaitForStatus("Online")) << form.LabCard->Text();
  ASSERT_TRUE(window->Capture);
  audio::TWaveCapture& capture = *window->Capture;
  int blocks = 0;
  const audio::TWaveDataEvent passOn = capture.OnData;
  capture.OnData = [&](audio::TWaveCapture& sender, const char* data, int32_t count) {
    ++blocks;
    passOn(sender, data, count);
  };
  RunFor(200);
  // The settings dialog, ten seconds open, then the exit confirmation, two seconds: each runs
  // a loop of its own, and the device is served from it as from the main loop.
  blocks = 0;
  QElapsedTimer held;
  held.start();
  CloseModalIn(10000);
  window->SBSettingsClick();
  CloseModalIn(2000);
  EXPECT_FALSE(form.MSG.ConfirmYesNo("Are you sure exit this program?"));
  const double seconds = static_cast<double>(held.elapsed()) / 1000;
  ASSERT_EQ(modalsClosed, 2);
  ASSERT_GE(seconds, 12.0);
  // 10 ms blocks of real-time audio: every one of them came, none was thrown away, and the
  // device never overran.
  EXPECT_GE(blocks, static_cast<int>(seconds * 100) - 20) << seconds << " s";
  EXPECT_LE(blocks, static_cast<int>(seconds * 100) + 20) << seconds << " s";
  EXPECT_EQ(capture.Overruns(), 0u);
  EXPECT_EQ(capture.DiscardedBytes(), 0u);
  EXPECT_TRUE(capture.Active);
  EXPECT_EQ(form.LabCard->Text(), "Online");
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
