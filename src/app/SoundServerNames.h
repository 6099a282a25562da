#pragma once
// The desktop's sound server's devices are named after the server that serves them now:
// "PipeWire" for the mixer and "PipeWire Sound Server" for capture where PipeWire serves, and
// "PulseAudio" ... where PulseAudio does. A desktop that moved from PulseAudio to PipeWire keeps
// its volumes and its audio in the same place, so a choice stored under one server's name finds
// the device under the other's.
#include <string>

namespace calvora::app {

// Mixer devices are found without regard to letter case, sound cards by their exact names.
enum class LetterCase { kIgnored, kMatters };

// Whether `stored` and `listed` name the same sound server's device under the two servers'
// names: both begin with "PipeWire" or "PulseAudio" as a word, and the rest is the same.
bool SameSoundServerDevice(const std::string& stored, const std::string& listed,
                           LetterCase letterCase);

}  // namespace calvora::app
