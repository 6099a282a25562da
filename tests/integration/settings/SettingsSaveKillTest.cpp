// Saves killed at random moments, as a power cut or a kill -9 would stop them: the settings
// file afterwards holds one whole save, and no temporary file outlives the next save.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "platform/posix/IniProfileFile.h"
#include "platform/posix/XdgRunKeys.h"
#include "settings/Settings.h"

namespace calvora::settings {
namespace {

namespace fs = std::filesystem;

SettingsRecord Record(int32_t n) {
  SettingsRecord s;
  s.PID = static_cast<int16_t>(n);
  s.Card = "Card " + std::to_string(n);
  s.Bitrate = 44100;
  s.SilenceLevel = -30 - n;
  s.CardWait = n;
  s.MixerWait = n;
  s.Lines[0] = {"Mixer " + std::to_string(n), n, n, n};
  s.Lines[1] = {"Other " + std::to_string(n), n, n, n};
  return s;
}

size_t TemporaryFiles(const fs::path& dir) {
  size_t count = 0;
  for (const auto& entry : fs::directory_iterator(dir))
    count += entry.path().filename().string().find(".tmp-") != std::string::npos ? 1 : 0;
  return count;
}

TEST(SettingsSaveKilled, FileHoldsOneWholeSaveAndNoTemporaryFileSurvives) {
  const fs::path dir = fs::temp_directory_path() / ("calvora-kill-" + std::to_string(getpid()));
  fs::create_directories(dir);
  platform::posix::IniProfileFile ini((dir / "calvora.ini").string());
  platform::posix::XdgRunKeys runKeys((dir / "autostart").string(), {});
  SettingsStore store(ini, runKeys, "/opt/calvora", [](const std::string&) {});
  Settings = Record(1);
  ASSERT_TRUE(store.SaveSettings());

  std::mt19937 random(12345);
  std::uniform_int_distribution<int> pause(0, 15000);
  int leftBehind = 0;
  constexpr int kRounds = 40;
  for (int round = 0; round < kRounds; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int32_t n = 1;; n = n % 1000 + 1) {
        Settings = Record(n);
        store.SaveSettings();
      }
    }
    usleep(static_cast<useconds_t>(pause(random)));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);

    leftBehind += TemporaryFiles(dir) > 0 ? 1 : 0;
    store.LoadSettings();
    EXPECT_EQ(Settings, Record(Settings.PID)) << "round " << round << ": a mix of two saves";
    // The next save, as the next run of the program makes it, tidies up what a kill left.
    ASSERT_TRUE(store.SaveSettings());
    EXPECT_EQ(TemporaryFiles(dir), 0u) << "round " << round;
  }
  std::printf("kills that left a temporary file until the next save: %d of %d\n", leftBehind,
              kRounds);
  EXPECT_LE(leftBehind, kRounds / 4);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace calvora::settings
