// The settings dialog on real Qt widgets, offscreen: its frame, the widget rules on Qt's own
// signals, a save into the real INI file, and pictures of it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "VirtualMixerDevices.h"
#include "VirtualWaveInput.h"
#include "app/SettingsDialogQt.h"
#include "mixer/MixerXP.h"
#include "platform/posix/IniProfileFile.h"
#include "platform/posix/PosixClock.h"
#include "platform/posix/XdgRunKeys.h"
#include "platform/qt/QtTimers.h"
#include "settings/Fr_Setting.h"
#include "ui/qt/MainForm.h"
#include "ui/qt/SettingsForm.h"

namespace calvora {
namespace {

namespace fs = std::filesystem;
using Controls = testing::VirtualMixerDevices::Controls;
using settings::Settings;

QString OutputPng(const char* name) {
  return QString(CALVORA_TEST_OUTPUT_DIR "/") + name;
}

class SettingsDialogOnQt : public ::testing::Test {
 protected:
  SettingsDialogOnQt() {
    fs::create_directories(dir / "autostart");
    waveInput.Devices = {{"HDA Intel PCH: ALC892 Analog (hw:0,0)"}, {"Calvora Virtual Capture"}};
    const uint32_t card = mixerDevices.AddDevice("Calvora Virtual Mixer");
    mixerDevices.AddDestination(card, "Playback", Controls::kBoth);
    mixerDevices.AddSource(card, 0, "PCM", Controls::kBoth);
    mixerDevices.AddSource(card, 0, "Line", Controls::kBoth);
    mixerDevices.AddDestination(card, "Capture", Controls::kBoth);
    const uint32_t usb = mixerDevices.AddDevice("USB Audio  Device");
    mixerDevices.AddDestination(usb, "Playback", Controls::kBoth);
    mixerDevices.AddSource(usb, 0, "Speaker", Controls::kBoth);
  }
  ~SettingsDialogOnQt() override {
    mixer::FreeMixerDevices();
    fs::remove_all(dir);
  }

  void Load(const std::string& content) {
    std::ofstream(dir / "calvora.ini") << content;
    store.LoadSettings();
  }
  std::string IniText() {
    std::ifstream in(dir / "calvora.ini", std::ios::binary);
    std::string text(static_cast<size_t>(fs::file_size(dir / "calvora.ini")), '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    return text;
  }
  settings::SettingServices Services() {
    return {waveInput, mixerDevices, clock, timers, store, [] { return nullptr; }};
  }
  fs::path dir = fs::temp_directory_path() / ("calvora-settings-qt-" + std::to_string(::getpid()));
  platform::posix::PosixClock clock;
  platform::qt::QtTimers timers;
  testing::VirtualWaveInput waveInput;
  testing::VirtualMixerDevices mixerDevices;
  platform::posix::IniProfileFile ini{(dir / "calvora.ini").string()};
  platform::posix::XdgRunKeys runKeys{(dir / "autostart").string(), {}};
  settings::SettingsStore store{ini, runKeys, "/opt/calvora/calvora-audio-mixer",
                                [](const std::string&) {}};
};

constexpr const char* kStoredLines =
    "[Settings]\nUseSoundCard=1\nUseMixer=1\n"
    "[Soundcard]\nCard=Calvora Virtual Capture\nBitrate=44100\n"
    "[Mixer]\nLRControl=1\nDevice0=Calvora Virtual Mixer\nRoot0=0\nLine0=1\nLevel0=51400\n"
    "Device1=USB Audio  Device\nRoot1=0\nLine1=1\nLevel1=25700\n";

TEST_F(SettingsDialogOnQt, FrameIsCaptionedSettingsWithOnlyCloseAndEscapeCancels) {
  Load(kStoredLines);
  const settings::SettingsRecord before = Settings;
  ui::qt::MainForm main;
  bool checked = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = dynamic_cast<ui::qt::SettingsForm*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "Settings");
    EXPECT_EQ(dialog->size(), QSize(437, 424));
    const Qt::WindowFlags flags = dialog->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                          Qt::WindowContextHelpButtonHint));
    // The user changes a device and leaves with Escape.
    dialog->CBDevice_L->setCurrentIndex(1);
    emit dialog->CBDevice_L->activated(1);
    EXPECT_EQ(Settings.Lines[0].Device, "USB Audio  Device");
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(dialog, &escape);
    checked = true;
  });
  EXPECT_FALSE(store.EditSettings([&] { return app::RunSettingsDialog(&main, Services()); }));
  EXPECT_TRUE(checked);
  EXPECT_EQ(Settings, before);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(SettingsDialogOnQt, QtWidgetsKeepTheChainRulesAndSaveWritesTheIni) {
  Load(kStoredLines);
  ui::qt::SettingsForm form(nullptr);
  settings::TFSetting dialog(app::WidgetsOf(form), Services());
  EXPECT_EQ(form.CBCard->currentText(), "Calvora Virtual Capture");
  EXPECT_EQ(form.CBBitrate->currentText(), "44100");
  EXPECT_EQ(form.CBRoot_L->currentText(), "Playback");
  EXPECT_EQ(form.CBLine_L->currentText(), "PCM");
  EXPECT_EQ(form.CBLine_R->currentText(), "Speaker");
  EXPECT_EQ(form.TBLevel_L->value(), 200);
  EXPECT_EQ(form.TBLevel_R->value(), 100);
  EXPECT_EQ(mixerDevices.Volume(0, 0, 0), 200u * 257u);
  EXPECT_EQ(form.LSilence->text(), "-38 dB");
  // The rate list's width and the silence level's range, as the form gives them.
  EXPECT_EQ(form.CBBitrate->width(), 84);
  EXPECT_EQ(form.SSilence->minimum(), -42);
  EXPECT_EQ(form.SSilence->maximum(), -12);
  // A group unchecked from code disables what is inside it, as a click does.
  form.GBCard->SetChecked(false);
  EXPECT_FALSE(form.CBCard->isEnabled());
  form.GBCard->SetChecked(true);
  EXPECT_TRUE(form.CBCard->isEnabled());

  // The user drags the left slider: the preview line follows at once.
  form.TBLevel_L->setValue(128);
  EXPECT_EQ(mixerDevices.Volume(0, 0, 0), 32896u);
  // Choosing the same root again still reruns the chain below it.
  form.CBLine_L->setCurrentIndex(2);
  emit form.CBRoot_L->activated(0);
  EXPECT_EQ(form.CBLine_L->currentText(), "PCM");

  form.CBSeparately->click();
  EXPECT_TRUE(form.CBDevice_R->isHidden());
  EXPECT_TRUE(form.SBEqual->isHidden());
  EXPECT_EQ(form.CBDevice_L->width(), 437 - 52 - 4);
  form.ESilenceTime->setValue(4.5);
  form.SBSave->click();
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_TRUE(settings::MixerLevelChanged && settings::MixerDeviceChanged);
  const std::string text = IniText();
  EXPECT_NE(text.find("Card=Calvora Virtual Capture\n"), std::string::npos);
  EXPECT_NE(text.find("SilenceTime=4.5\n"), std::string::npos);
  EXPECT_NE(text.find("Level0=32896\n"), std::string::npos);
  EXPECT_NE(text.find("Device1=\n"), std::string::npos);
  EXPECT_NE(text.find("Root1=-1\n"), std::string::npos);
  for (const auto& entry : fs::directory_iterator(dir))
    EXPECT_EQ(entry.path().string().find(".tmp-"), std::string::npos) << entry.path();
  store.LoadSettings();
  EXPECT_EQ(Settings.Lines[1].Level, 32896);
}

TEST_F(SettingsDialogOnQt, PicturesWithAndWithoutTheRightColumnAndAValidationMessage) {
  Load(kStoredLines);
  ui::qt::SettingsForm form(nullptr);
  settings::TFSetting dialog(app::WidgetsOf(form), Services());
  form.show();
  QApplication::processEvents();
  ASSERT_TRUE(form.grab().save(OutputPng("settings-separately-on.png")));
  form.CBSeparately->click();
  QApplication::processEvents();
  ASSERT_TRUE(form.grab().save(OutputPng("settings-separately-off.png")));

  // Interactive mode without a program ID: the error box over the dialog.
  form.CBSourceMode->click();
  QString shown;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    shown = box->text();
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    QImage picture = form.grab().toImage();
    QPainter painter(&picture);
    const QPixmap boxPicture = box->grab();
    painter.drawPixmap((picture.width() - boxPicture.width()) / 2,
                       (picture.height() - boxPicture.height()) / 2, boxPicture);
    painter.end();
    EXPECT_TRUE(picture.save(OutputPng("settings-validation-message.png")));
    box->accept();
  });
  form.SBSave->click();
  EXPECT_EQ(shown, "The program ID (PID) must not be equal 0");
  EXPECT_TRUE(form.isVisible()) << "the dialog stays open";
}

}  // namespace
}  // namespace calvora

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  calvora::ui::qt::ApplySkin();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
