// The main window and the settings dialog on Qt with the real ALSA code and the virtual sound
// card: the "Settings" button opens the dialog, the user chooses the virtual capture device
// and a line of the virtual mixer and saves, and the INI file then holds what the next start
// reads, in the encoding and line ends the file came with.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <utf8/cpp17.h>

#include <QApplication>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "VirtualDesktop.h"
#include "app/Main.h"
#include "app/SettingsDialogQt.h"
#include "platform/alsa/AlsaMixerDevices.h"
#include "platform/alsa/AlsaWaveInput.h"
#include "platform/posix/IniProfileFile.h"
#include "platform/posix/PosixClock.h"
#include "platform/posix/XdgRunKeys.h"
#include "platform/qt/QtDescriptorWatches.h"
#include "platform/qt/QtTimers.h"
#include "ui/qt/MainForm.h"
#include "ui/qt/SettingsForm.h"

namespace calvora {
namespace {

namespace fs = std::filesystem;

int IndexOf(const QComboBox& list, const char* text) {
  return list.findText(text, Qt::MatchExactly);
}

std::string Utf16LeWithMark(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

// The file's text when all of it is UTF-16 LE after its mark, as Windows reads it; nothing
// when any part is not.
std::optional<std::string> WholeUtf16Le(const std::string& bytes) {
  if (bytes.rfind("\xFF\xFE", 0) != 0 || bytes.size() % 2 != 0)
    return std::nullopt;
  std::u16string units;
  for (size_t i = 2; i < bytes.size(); i += 2)
    units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                   static_cast<unsigned char>(bytes[i + 1]) << 8);
  try {
    return utf8::utf16to8(units);
  } catch (const utf8::exception&) {
    return std::nullopt;
  }
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
  platform::qt::QtDescriptorWatches descriptorWatches;
  platform::alsa::AlsaWaveInput waveInput{descriptorWatches, timers};
  platform::alsa::AlsaMixerDevices mixerDevices;
  // Saved by Notepad on Windows as "Unicode": UTF-16 LE with a mark and CRLF line ends.
  const std::string fromWindows = Utf16LeWithMark(
      u"; Studio S\u00FCd\r\n[Settings]\r\nPID=0\r\n[Station]\r\nName=B\u00FChne\r\n");
  std::ofstream(dir / "calvora.ini", std::ios::binary) << fromWindows;
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

  // The file is UTF-16 throughout, every line ending in CRLF, its own lines kept.
  std::ostringstream saved;
  saved << std::ifstream(dir / "calvora.ini", std::ios::binary).rdbuf();
  const std::optional<std::string> text = WholeUtf16Le(saved.str());
  ASSERT_TRUE(text.has_value()) << "not UTF-16 throughout";
  EXPECT_EQ(text->rfind("; Studio S\u00FCd\r\n[Settings]\r\nPID=0\r\n", 0), 0u) << *text;
  EXPECT_NE(text->find("\r\n[Station]\r\nName=B\u00FChne\r\n"), std::string::npos);
  EXPECT_NE(text->find("\r\nCard=Calvora Virtual Capture\r\n"), std::string::npos);
  EXPECT_NE(text->find("\r\nDevice0=Calvora Virtual Mixer\r\n"), std::string::npos);
  for (size_t lf = text->find('\n'); lf != std::string::npos; lf = text->find('\n', lf + 1))
    ASSERT_EQ(text->at(lf - 1), '\r') << "a line end other than CRLF at " << lf;
  fs::remove_all(dir);
}

}  // namespace
}  // namespace calvora
