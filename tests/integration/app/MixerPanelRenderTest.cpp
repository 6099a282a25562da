// The running window on offscreen Qt with its mixer online: the level gauge full, and halfway
// through a fade-out started by a double click on "Level". Time is virtual, so the pictures
// show exactly the moments asked for.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <filesystem>

#include "FormWidgets.h"
#include "VirtualClock.h"
#include "VirtualDesktop.h"
#include "VirtualMixerDevices.h"
#include "VirtualTimers.h"
#include "VirtualWaveInput.h"
#include "app/Main.h"
#include "ui/qt/MainForm.h"
#include "ui/qt/RenderToPng.h"

namespace calvora {
namespace {

namespace fs = std::filesystem;
using testing::VirtualMixerDevices;

class MixerPanelOnQt : public ::testing::Test {
 protected:
  MixerPanelOnQt() {
    dir = fs::temp_directory_path() / ("calvora-mixer-render-" + std::to_string(::getpid()));
    const uint32_t usb = mixerDevices.AddDevice("USB Mixer");
    mixerDevices.AddDestination(usb, "Playback", VirtualMixerDevices::Controls::kBoth);
    mixerDevices.AddSource(usb, 0, "PCM", VirtualMixerDevices::Controls::kBoth);
    mixerDevices.SetVolume(usb, 0, 0, 40000);
    mixerDevices.SetMuted(usb, 0, 0, true);
    waveInput.Devices = {{.Name = "Studio Card"}};

    settingsFolder = std::make_unique<SettingsFolder>(
        dir,
        "[Settings]\nUseSoundCard=1\nUseMixer=1\n[Soundcard]\nCard=Studio Card\n"
        "[Mixer]\nDevice0=USB Mixer\nLine0=1\nLevel0=40000\nSetLevel=1\nFadeIn=1\nFadeOut=2\n");
    const app::MainWindowWidgets widgets = FormWidgets(form);
    app::MainWindowServices services{clock,     timers,       desktop,
                                     waveInput, mixerDevices, settingsFolder->store,
                                     "1.0.0.1", nullptr,      nullptr};
    window = std::make_unique<app::TCV_AudioMixer>(widgets, std::move(services));
    form.ShowAtStart();
  }
  ~MixerPanelOnQt() override {
    window.reset();
    mixer::FreeMixerDevices();
    settings::LinesMuted = true;
    fs::remove_all(dir);
  }

  // The window as a picture, saved beside the test for people to look at.
  QImage Shot(const char* name) {
    QApplication::processEvents();
    const QString png = QString(CALVORA_TEST_OUTPUT_DIR "/") + name;
    EXPECT_TRUE(ui::qt::RenderToPng(form, png));
    return QImage(png);
  }

  // Whether the level gauge's bar is filled at this fraction of its inner width.
  bool LevelBarFilledAt(const QImage& shot, double fraction) {
    const QRect bar(form.SGLevel->mapTo(&form, QPoint(0, 0)), form.SGLevel->size());
    const int x = bar.left() + 3 + static_cast<int>(fraction * (bar.width() - 6));
    // Under the percentage text there is none of the bar to see: read near the bottom edge.
    const QColor c(shot.pixel(x, bar.bottom() - 3));
    return c.green() > 120 && c.red() < 100;  // the skin's green chunk, not the dark trough
  }

  fs::path dir;
  testing::VirtualClock clock;
  testing::VirtualTimers timers{clock};
  testing::VirtualDesktop desktop;
  testing::VirtualWaveInput waveInput;
  VirtualMixerDevices mixerDevices;
  std::unique_ptr<SettingsFolder> settingsFolder;
  ui::qt::MainForm form;
  std::unique_ptr<app::TCV_AudioMixer> window;
};

TEST_F(MixerPanelOnQt, OnlineWithTheLevelFullThenHalfwayThroughAFadeOut) {
  timers.Advance(1600);
  // A programme at about -12 dB lights the meter.
  for (int block = 0; block < 3; ++block)
    waveInput.FillOldest(testing::VirtualWaveInput::Frames(480, 8200, -8200));
  timers.Advance(10);
  EXPECT_EQ(form.LabCard->text().toStdString(), "Online");
  EXPECT_EQ(form.LabMixer->text().toStdString(), "Online");
  EXPECT_EQ(form.LabMixer->palette().color(QPalette::WindowText), QColor(0, 128, 0));
  EXPECT_EQ(form.SGMixer->format().toStdString(), "USB Mixer");
  EXPECT_EQ(form.SGLevel->value(), 100);
  const QImage full = Shot("mixer-online-level-100.png");
  ASSERT_FALSE(full.isNull());
  EXPECT_TRUE(LevelBarFilledAt(full, 0.02));
  EXPECT_TRUE(LevelBarFilledAt(full, 0.98));

  // The user double-clicks "Level": the lines and the gauge fall over two seconds.
  const QPointF inside(10, 5);
  QMouseEvent doubleClick(QEvent::MouseButtonDblClick, inside, form.LabSilence->mapToGlobal(inside),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(form.LabSilence, &doubleClick);
  timers.Advance(1000);
  EXPECT_NEAR(form.SGLevel->value(), 50, 1);
  EXPECT_NEAR(mixerDevices.Volume(0, 0, 0), 20000, 1000);
  const QImage half = Shot("mixer-fading-out-level-50.png");
  ASSERT_FALSE(half.isNull());
  EXPECT_TRUE(LevelBarFilledAt(half, 0.02));
  EXPECT_TRUE(LevelBarFilledAt(half, 0.45));
  EXPECT_FALSE(LevelBarFilledAt(half, 0.55));
  EXPECT_FALSE(LevelBarFilledAt(half, 0.98));
}

}  // namespace
}  // namespace calvora
