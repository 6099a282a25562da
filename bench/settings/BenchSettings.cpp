// bench-settings: the cost of one save of the settings file. Prints the median time of a save
// that writes its 25 keys one at a time (each a whole rewrite of the file with its fsync and
// rename: how a save used to go) as the baseline, and of a save through the settings store
// (one replacement of the file), with the number of file replacements each makes. Runs in a
// folder of its own under $TMPDIR, or in the folder given as the first argument (to measure
// the disk the program's settings file lives on).
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/posix/IniProfileFile.h"
#include "platform/posix/XdgRunKeys.h"
#include "settings/Settings.h"

namespace {

namespace fs = std::filesystem;
using calvora::platform::ProfileFile;
using calvora::platform::ProfileValue;

constexpr int kRounds = 60;

double NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The INI file as the store sees it, counting replacements; in key-by-key mode every key of a
// save is written on its own, as the store used to do.
class CountingFile : public ProfileFile {
 public:
  CountingFile(ProfileFile& file, bool keyByKey) : file_(file), keyByKey_(keyByKey) {}
  const std::string& Path() const override { return file_.Path(); }
  bool Exists() const override { return file_.Exists(); }
  std::optional<std::string> ReadString(std::string_view section, std::string_view key) override {
    return file_.ReadString(section, key);
  }
  bool WriteString(std::string_view section, std::string_view key,
                   std::string_view value) override {
    ++replacements;
    return file_.WriteString(section, key, value);
  }
  bool WriteStrings(const std::vector<ProfileValue>& values) override {
    if (!keyByKey_) {
      ++replacements;
      return file_.WriteStrings(values);
    }
    for (const ProfileValue& v : values)
      if (!WriteString(v.Section, v.Key, v.Value))
        return false;
    return true;
  }
  int replacements = 0;

 private:
  ProfileFile& file_;
  bool keyByKey_;
};

struct Figures {
  double medianMs;
  int replacementsPerSave;
};

Figures Measure(const fs::path& dir, bool keyByKey) {
  calvora::platform::posix::IniProfileFile ini((dir / "calvora.ini").string());
  calvora::platform::posix::XdgRunKeys runKeys((dir / "autostart").string(), {});
  CountingFile counting(ini, keyByKey);
  calvora::settings::SettingsStore store(counting, runKeys, "/opt/calvora", nullptr);
  store.LoadSettings();
  std::vector<double> times;
  for (int i = 0; i < kRounds; ++i) {
    calvora::settings::Settings.PID = static_cast<int16_t>(i);
    const double start = NowMs();
    store.SaveSettings();
    times.push_back(NowMs() - start);
  }
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], counting.replacements / kRounds};
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path base = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
  const fs::path dir = base / ("calvora-bench-settings-" + std::to_string(getpid()));
  fs::create_directories(dir);
  // Alternate the two so that a noisy moment of the machine falls on both alike.
  const Figures keyByKey = Measure(dir, true);
  const Figures once = Measure(dir, false);
  const Figures keyByKeyAgain = Measure(dir, true);
  const double baseline = std::min(keyByKey.medianMs, keyByKeyAgain.medianMs);
  std::printf("settings save in %s, median of %d saves:\n", base.c_str(), kRounds);
  std::printf("  key by key (baseline): %8.3f ms, %d file replacements\n", baseline,
              keyByKey.replacementsPerSave);
  std::printf("  one replacement:       %8.3f ms, %d file replacement\n", once.medianMs,
              once.replacementsPerSave);
  std::printf("  ratio: %.1f times faster\n", baseline / std::max(once.medianMs, 1e-6));
  fs::remove_all(dir);
  return 0;
}
