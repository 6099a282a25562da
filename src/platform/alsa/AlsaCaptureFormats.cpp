#include "platform/alsa/AlsaCaptureFormats.h"

#include <algorithm>
#include <array>
#include <memory>

namespace calvora::platform::alsa {

namespace {

struct StandardFormat {
  uint32_t Rate;
  uint16_t Channels;
  uint16_t Bits;
  uint32_t Bit;  // its bit in WaveInCaps::Formats
};
namespace f = wave_format;
constexpr std::array<StandardFormat, 20> kStandardFormats = {{
    {11025, 1, 8, f::k1M08},   {11025, 2, 8, f::k1S08},   {11025, 1, 16, f::k1M16},
    {11025, 2, 16, f::k1S16},  {22050, 1, 8, f::k2M08},   {22050, 2, 8, f::k2S08},
    {22050, 1, 16, f::k2M16},  {22050, 2, 16, f::k2S16},  {44100, 1, 8, f::k4M08},
    {44100, 2, 8, f::k4S08},   {44100, 1, 16, f::k4M16},  {44100, 2, 16, f::k4S16},
    {48000, 1, 8, f::k48M08},  {48000, 2, 8, f::k48S08},  {48000, 1, 16, f::k48M16},
    {48000, 2, 16, f::k48S16}, {96000, 1, 8, f::k96M08},  {96000, 2, 8, f::k96S08},
    {96000, 1, 16, f::k96M16}, {96000, 2, 16, f::k96S16},
}};

}  // namespace

bool RecordableFormat(const WaveFormat& format) {
  return format.FormatTag == kWaveFormatPcm && (format.Channels == 1 || format.Channels == 2) &&
         (format.BitsPerSample == 8 || format.BitsPerSample == 16) && format.SamplesPerSec > 0 &&
         format.BlockAlign == format.Channels * format.BitsPerSample / 8;
}

int SetRecordFormat(snd_pcm_t* pcm, snd_pcm_hw_params_t* params, const WaveFormat& format) {
  int err = snd_pcm_hw_params_set_access(pcm, params, SND_PCM_ACCESS_RW_INTERLEAVED);
  if (err < 0)
    return err;
  err = snd_pcm_hw_params_set_format(
      pcm, params, format.BitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE);
  if (err < 0)
    return err;
  err = snd_pcm_hw_params_set_channels(pcm, params, format.Channels);
  if (err < 0)
    return err;
  return snd_pcm_hw_params_set_rate(pcm, params, format.SamplesPerSec, 0);
}

int ReadRecordFormats(const std::string& device, WaveInCaps& caps) {
  snd_pcm_t* opened = nullptr;
  int err = snd_pcm_open(&opened, device.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
  if (err < 0)
    return err;
  const std::unique_ptr<snd_pcm_t, int (*)(snd_pcm_t*)> pcm(opened, snd_pcm_close);
  snd_pcm_hw_params_t* any = nullptr;
  snd_pcm_hw_params_alloca(&any);
  err = snd_pcm_hw_params_any(pcm.get(), any);
  if (err < 0)
    return err;

  snd_pcm_hw_params_t* trial = nullptr;
  snd_pcm_hw_params_alloca(&trial);
  caps.Formats = 0;
  for (const StandardFormat& standard : kStandardFormats) {
    snd_pcm_hw_params_copy(trial, any);
    WaveFormat format;
    format.Channels = standard.Channels;
    format.BitsPerSample = standard.Bits;
    format.SamplesPerSec = standard.Rate;
    if (SetRecordFormat(pcm.get(), trial, format) >= 0)
      caps.Formats |= standard.Bit;
  }
  unsigned channels = 0;
  caps.Channels = 0;
  if (snd_pcm_hw_params_get_channels_max(any, &channels) >= 0)
    caps.Channels = static_cast<uint16_t>(std::min(channels, 0xFFFFu));
  return 0;
}

}  // namespace calvora::platform::alsa
