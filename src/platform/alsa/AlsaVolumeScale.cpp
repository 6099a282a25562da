#include "platform/alsa/AlsaVolumeScale.h"

#include <algorithm>
#include <cmath>

namespace calvora::platform::alsa {

namespace {

constexpr uint32_t kMaxVolume = 65535;
// Up to this span (in 1/100 dB) alsamixer shows a dB scale linearly.
constexpr long kMaxLinearDbSpan = 2400;

}  // namespace

long ToElementVolume(uint32_t volume, long min, long max) {
  if (volume > kMaxVolume)
    volume = kMaxVolume;
  if (max <= min)
    return min;
  const double span = static_cast<double>(max) - static_cast<double>(min);
  return min + std::lround(static_cast<double>(volume) * span / kMaxVolume);
}

uint32_t FromElementVolume(long raw, long min, long max) {
  if (max <= min || raw <= min)
    return 0;
  if (raw >= max)
    return kMaxVolume;
  const double span = static_cast<double>(max) - static_cast<double>(min);
  const double offset = static_cast<double>(raw) - static_cast<double>(min);
  return static_cast<uint32_t>(std::lround(offset * kMaxVolume / span));
}

double MappedFromDb(long db, long dbMin, long dbMax) {
  if (dbMax - dbMin <= kMaxLinearDbSpan)
    return static_cast<double>(db - dbMin) / static_cast<double>(dbMax - dbMin);
  double mapped = std::pow(10.0, static_cast<double>(db - dbMax) / 6000.0);
  if (dbMin != SND_CTL_TLV_DB_GAIN_MUTE) {
    const double lowest = std::pow(10.0, static_cast<double>(dbMin - dbMax) / 6000.0);
    mapped = (mapped - lowest) / (1.0 - lowest);
  }
  return mapped;
}

VolumeScale::VolumeScale(long min, long max, const std::vector<unsigned int>& tlv)
    : min_(min), max_(max) {
  if (tlv.empty() || max <= min)
    return;
  std::vector<unsigned int> data = tlv;
  unsigned int* db = nullptr;
  const int size = snd_tlv_parse_dB_info(
      data.data(), static_cast<unsigned>(data.size() * sizeof(unsigned int)), &db);
  if (size <= 0 || db == nullptr)
    return;
  std::vector<unsigned int> part(db, db + static_cast<size_t>(size) / sizeof(unsigned int));
  long dbMin = 0, dbMax = 0;
  if (snd_tlv_get_dB_range(part.data(), min, max, &dbMin, &dbMax) < 0 || dbMin >= dbMax)
    return;
  db_ = std::move(part);
  dbMin_ = dbMin;
  dbMax_ = dbMax;
}

double VolumeScale::Mapped(long raw) const {
  long db = 0;
  if (snd_tlv_convert_to_dB(const_cast<unsigned int*>(db_.data()), min_, max_, raw, &db) < 0)
    return 0;
  return MappedFromDb(db, dbMin_, dbMax_);
}

long VolumeScale::ToElement(uint32_t volume) const {
  if (!HasDb())
    return ToElementVolume(volume, min_, max_);
  if (volume > kMaxVolume)
    volume = kMaxVolume;
  const double target = static_cast<double>(volume) / kMaxVolume;
  // The mapped volume rises with the element value: find the first value at or above the
  // target, then take it or the one below, whichever lies nearer.
  long low = min_, high = max_;
  while (low < high) {
    const long middle = low + (high - low) / 2;
    if (Mapped(middle) < target)
      low = middle + 1;
    else
      high = middle;
  }
  if (low > min_ && target - Mapped(low - 1) < Mapped(low) - target)
    return low - 1;
  return low;
}

uint32_t VolumeScale::FromElement(long raw) const {
  if (!HasDb())
    return FromElementVolume(raw, min_, max_);
  const double mapped = Mapped(std::clamp(raw, min_, max_));
  if (mapped <= 0)
    return 0;
  if (mapped >= 1)
    return kMaxVolume;
  return static_cast<uint32_t>(std::lround(mapped * kMaxVolume));
}

}  // namespace calvora::platform::alsa
