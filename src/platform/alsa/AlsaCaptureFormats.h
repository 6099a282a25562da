#pragma once
// The wave formats a capture device records in: those this program records at all (PCM, mono
// or stereo, 8 or 16 bits), setting one on a device, and reading which of the standard formats
// a device records natively.
#include <alsa/asoundlib.h>

#include <string>

#include "platform/WaveInput.h"

namespace calvora::platform::alsa {

// Whether this program records in the format on any device.
bool RecordableFormat(const WaveFormat& format);

// Sets access, sample format, channels and rate; the rate must be met exactly. ALSA's error,
// or 0.
int SetRecordFormat(snd_pcm_t* pcm, snd_pcm_hw_params_t* params, const WaveFormat& format);

// Opens the device for a moment and reads which of the standard formats it records (Formats)
// and its most channels (Channels) into caps; ALSA's error, and caps untouched, when it cannot
// be read.
int ReadRecordFormats(const std::string& device, WaveInCaps& caps);

}  // namespace calvora::platform::alsa
