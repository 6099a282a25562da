#pragma once
// The 0..65535 volume of the mixer seam as an ALSA element's value, the way alsamixer shows
// that element (its "mapped volume", which `amixer -M` prints too), so that 50 % here is 50 %
// there and a fade moves evenly in loudness:
//   - An element with a dB scale: the volume v stands for m = v / 65535, and m for the dB value
//     d (dB range dmin..dmax, in 1/100 dB) where
//       m = (d - dmin) / (dmax - dmin)                            when dmax - dmin <= 24 dB,
//       m = (10^((d - dmax) / 6000) - m0) / (1 - m0)              otherwise,
//     with m0 = 10^((dmin - dmax) / 6000), or 0 when the lowest value is silence (muting).
//     A write takes the element value whose m lies nearest; a read rounds m x 65535.
//   - An element without dB information: linear over the element's raw range.
#include <alsa/asoundlib.h>

#include <cstdint>
#include <vector>

namespace calvora::platform::alsa {

// Linear scaling between the 0..65535 volume and an element's own range, to the nearest.
long ToElementVolume(uint32_t volume, long min, long max);
uint32_t FromElementVolume(long raw, long min, long max);

// The mapped volume m (0..1) of a dB value for a dB range; dbMin may be
// SND_CTL_TLV_DB_GAIN_MUTE for a range whose lowest value mutes.
double MappedFromDb(long db, long dbMin, long dbMax);

class VolumeScale {
 public:
  VolumeScale() = default;
  // `tlv` is the element's TLV data as read from the device; empty or without a dB scale,
  // the scale is linear.
  VolumeScale(long min, long max, const std::vector<unsigned int>& tlv);

  bool HasDb() const { return !db_.empty(); }
  long ToElement(uint32_t volume) const;
  uint32_t FromElement(long raw) const;

 private:
  double Mapped(long raw) const;

  long min_ = 0;
  long max_ = 0;
  std::vector<unsigned int> db_;  // the dB part of the TLV data; empty for none
  long dbMin_ = 0;
  long dbMax_ = 0;
};

}  // namespace calvora::platform::alsa
