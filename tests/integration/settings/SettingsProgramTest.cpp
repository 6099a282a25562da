// The main window and the settings dialog on Qt with the real ALSA code and the virtual sound
// card: the "Settings" button opens the dialog, the user chooses the virtual capture device
// and a line of the virtual mixer and saves, and the INI file then holds what the next start
// reads.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QTimer>
#include <filesystem>

#include "VirtualDesktop.h"
#include "app/Main.h"
#include "app/SettingsDialogQt.h"
#include "platform/alsa/AlsaMixerDevices.h"
#include "platform/alsa/AlsaWaveInput.h"
#include "platform/posix/IniProfileFile.h"
#include "platform/posix/PosixClock.h"
#include "platform/posix/XdgRunKeys.h"
#include "platform/qt/QtTimers.h"
#include "ui/qt/MainForm.h"
#include "ui/qt/SettingsForm.h"

namespace calvora {
namespace {

namespace fs = std::filesystem;

int IndexOf(const QComboBox& list, const char* text) {
  return list.findText(text, Qt::MatchExactly);
}

TEST(SettingsInTheProgram, ChoicesMadeInTheDialogAreSavedForTheNextStart) {
  const fs::path dir = fs::temp_directory_path() / ("calvora-program-" + std::to_string(getpid()));
  fs::create_directories(dir / "card");
  // The virtual card alone: listing the desktop's other control devices is the mixer tests'.
  setenv("ALSA_CONFIG_PATH", CALVORA_VIRTUAL_CARD_CONF, 1);
  setenv("CALVORA_VIRTUAL_CARD_DIR", (dir / "card").c_str(), 1);

  platform::posix::PosixClock clock;
  platform::qt::QtTimers timers;
  testing::VirtualDesktop desktop;
  platform::alsa::AlsaWaveInput waveInput;
  platform::alsa::AlsaMixerDevices mixerDevices;
  platform::posix::IniProfileFile ini((dir / "calvora.ini").string());
  platform::posix::XdgRunKeys runKeys((dir / "autostart").string(), {});
  settings::SettingsStore store(ini, runKeys, (dir / "calvora").string(),
                                [](const std::string&) {});

  ui::qt::MainForm form;
  app::TCV_AudioMixer* mainWindow = nullptr;
  const settings::SettingServices dialogServices{
      waveInput, mixerDevices,
      clock,     timers,
      store,     [&mainWindow] { return mainWindow ? mainWindow->LineMixer.get() : nullptr; }};
  const app::MainWindowWidgets widgets{
      form,          form.PanWork,     form.PanCard,          *form.SGCard,
      *form.LabCard, form.PanLed,      form.ImgLed->Canvas(), form.PanMixer,
      *form.SGMixer, *form.LabMixer,   *form.SGLevel,         *form.LabSilence,
      form.PanSett,  *form.SBSettings, form.TrayIcon,         form.MSG};
  app::MainWindowServices services{
      clock,     timers,       desktop,
      waveInput, mixerDevices, store,
      "1.0.0.1", nullptr,      [&] { return app::RunSettingsDialog(&form, dialogServices); }};
  app::TCV_AudioMixer window(widgets, std::move(services));
  mainWindow = &window;

  bool chosen = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = dynamic_cast<ui::qt::SettingsForm*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->GBCard->setChecked(true);
    const int card = IndexOf(*dialog->CBCard, "Calvora Virtual Capture");
    ASSERT_GE(card, 0);
    dialog->CBCard->setCurrentIndex(card);
    emit dialog->CBCard->activated(card);
    dialog->CBBitrate->setCurrentIndex(1);
    dialog->GBMixer->setChecked(true);
    const int mixer = IndexOf(*dialog->CBDevice_L, "Calvora Virtual Mixer");
    ASSERT_GE(mixer, 0);
    dialog->CBDevice_L->setCurrentIndex(mixer);
    emit dialog->CBDevice_L->activated(mixer);
    ASSERT_EQ(dialog->CBRoot_L->currentText(), "Playback") << "the stored root 0 is chosen";
    const int line = IndexOf(*dialog->CBLine_L, "PCM");
    ASSERT_GE(line, 0);
    dialog->CBLine_L->setCurrentIndex(line);
    emit dialog->CBLine_L->activated(line);
    dialog->TBLevel_L->setValue(200);
    chosen = true;
    dialog->SBSave->click();
  });
  form.SBSettings->click();
  ASSERT_TRUE(chosen);
  // The window has acted on the flags the save raised.
  EXPECT_FALSE(settings::CardChanged || settings::MixerDeviceChanged ||
               settings::MixerLinesChanged || settings::MixerLevelChanged);

  settings::Settings = {};
  EXPECT_TRUE(store.LoadSettings());
  const settings::SettingsRecord& s = settings::Settings;
  EXPECT_TRUE(s.UseSoundCard && s.UseMixer);
  EXPECT_EQ(s.Card, "Calvora Virtual Capture");
  EXPECT_EQ(s.Bitrate, 44100);
  EXPECT_EQ(s.Lines[0].Device, "Calvora Virtual Mixer");
  EXPECT_EQ(s.Lines[0].Root, 0);
  EXPECT_EQ(s.Lines[0].Line, 1);
  EXPECT_EQ(s.Lines[0].Level, 200 * 257);
  EXPECT_EQ(s.Lines[1].Level, 200 * 257);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace calvora
