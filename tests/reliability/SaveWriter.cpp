// Saves the settings file through the settings store, alternating between two records, as
// often as it can until it is killed: the victim of the killed-save test. With --once it
// saves one record and exits (1 when the save failed, the error box's text on stderr).
//
//   reliability-save-writer FILE.ini (a|b|loop)
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/posix/IniProfileFile.h"
#include "platform/posix/XdgRunKeys.h"
#include "settings/Settings.h"

namespace {

using calvora::settings::Settings;

// Two records that differ in every kind of value the file holds.
void Choose(bool second) {
  Settings = {};
  Settings.PID = second ? 4321 : 12;
  Settings.UseSoundCard = true;
  Settings.UseMixer = second;
  Settings.SourceMode = !second;
  Settings.Card = second ? "USB Audio: Line In (hw:2,0)  two  blanks" : "Calvora Virtual Capture";
  Settings.Bitrate = second ? 44100 : 48000;
  Settings.SilenceLevel = second ? -52.25 : -38.0;
  Settings.SilenceTime = second ? 12.5 : 3.0;
  Settings.RestoreTime = second ? 0.75 : 1.0;
  Settings.CardWait = second ? 30 : 10;
  Settings.FadeOut = second ? 1.5 : 0.0;
  Settings.FadeIn = second ? 0.25 : 2.0;
  Settings.MixerWait = second ? 5 : 10;
  Settings.Lines[0] = {second ? "Calvora Virtual Mixer" : "", 0, second ? 3 : 0,
                       second ? 40000 : 128};
  Settings.Lines[1] = {second ? "PipeWire" : "", 1, 2, second ? 65535 : 128};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FILE.ini (a|b|loop)\n", argv[0]);
    return 2;
  }
  calvora::platform::posix::IniProfileFile file(argv[1]);
  calvora::platform::posix::XdgRunKeys runKeys;
  calvora::settings::SettingsStore store(file, runKeys, argv[1], [](const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
  });
  const std::string mode = argv[2];
  if (mode != "loop") {
    Choose(mode == "b");
    return store.SaveSettings() ? 0 : 1;
  }
  // Announces the first save, then saves until killed.
  for (bool second = true;; second = !second) {
    Choose(second);
    if (!store.SaveSettings())
      return 1;
    static bool announced = false;
    if (!announced) {
      std::puts("saving");
      std::fflush(stdout);
      announced = true;
    }
  }
}
