// The main window in interactive mode: the controlling program's commands start and stop the
// work and mute and restore the lines.
#include "app/Main.h"

namespace calvora::app {

void TCV_AudioMixer::Run_Source(bool) {}

void TCV_AudioMixer::Stop_Source(bool) {}

}  // namespace calvora::app
