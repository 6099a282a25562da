// libFuzzer target: any bytes as the settings file. Loading gives a record without a crash,
// a hang or a sanitizer report; saving it and loading again gives the same record (numbers to
// their printed precision), and the file keeps what the store does not own.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/posix/IniProfileFile.h"
#include "platform/posix/XdgRunKeys.h"
#include "settings/Settings.h"

namespace {

namespace fs = std::filesystem;
using calvora::settings::SettingsRecord;

bool Same(double a, double b) {
  if (std::isnan(a) || std::isnan(b))
    return std::isnan(a) && std::isnan(b);
  if (std::isinf(a) || std::isinf(b))
    return a == b;
  return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(a));
}

bool Same(const SettingsRecord& a, const SettingsRecord& b) {
  return a.PID == b.PID && a.Hide == b.Hide && a.UseSoundCard == b.UseSoundCard &&
         a.UseMixer == b.UseMixer && a.SourceMode == b.SourceMode && a.Card == b.Card &&
         a.Bitrate == b.Bitrate && Same(a.SilenceLevel, b.SilenceLevel) &&
         Same(a.SilenceTime, b.SilenceTime) && Same(a.RestoreTime, b.RestoreTime) &&
         a.CardWait == b.CardWait && a.LRControl == b.LRControl && a.OnlyDown == b.OnlyDown &&
         Same(a.FadeOut, b.FadeOut) && Same(a.FadeIn, b.FadeIn) && a.MixerWait == b.MixerWait &&
         a.SetLevel == b.SetLevel && a.Lines == b.Lines;
}

const fs::path& Folder() {
  static const fs::path folder = [] {
    const fs::path f = fs::temp_directory_path() / ("calvora-fuzz-" + std::to_string(getpid()));
    fs::create_directories(f / "autostart");
    std::atexit([] { fs::remove_all(Folder()); });
    return f;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = (Folder() / "calvora-audio-mixer.ini").string();
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
      return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  calvora::platform::posix::IniProfileFile file(path);
  calvora::platform::posix::XdgRunKeys runKeys((Folder() / "autostart").string(), {});
  calvora::settings::SettingsStore store(file, runKeys, path, [](const std::string&) {});
  store.LoadSettings();
  const SettingsRecord loaded = calvora::settings::Settings;
  // A key of the store's own sections that the store does not know must survive a save.
  file.WriteString("Mixer", "FuzzKept", "kept value");
  if (!store.SaveSettings())
    std::abort();
  store.LoadSettings();
  if (!Same(loaded, calvora::settings::Settings))
    std::abort();
  const auto kept = file.ReadString("Mixer", "FuzzKept");
  if (!kept || *kept != "kept value")
    std::abort();
  return 0;
}
