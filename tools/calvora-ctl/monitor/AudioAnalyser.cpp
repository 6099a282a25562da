#include "AudioAnalyser.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace calvora::ctl {

namespace {

constexpr double kFullScale = 32768.0;

double Db(double linear) {
  return linear > 0 ? 20 * std::log10(linear) : -std::numeric_limits<double>::infinity();
}

// EBU R128's loudness of a mean square, and back.
double Lufs(double energy) {
  return energy > 0 ? 10 * std::log10(energy) - 0.691 : -std::numeric_limits<double>::infinity();
}
double Energy(double lufs) {
  return std::pow(10, (lufs + 0.691) / 10);
}

// Below the absolute gate the filters' fading tail reads down to -3000 LUFS and less: that is
// no programme, and reads as none (-inf). NaN (no reading) stays.
double Gated(double lufs) {
  return lufs <= LoudnessCheck::kGateLufs ? -std::numeric_limits<double>::infinity() : lufs;
}

}  // namespace

AudioAnalyser::AudioAnalyser(const CheckSettings& settings) : settings_(settings) {
  Reset();
}

AudioAnalyser::~AudioAnalyser() {
  if (meter_)
    ebur128_destroy(&meter_);
}

void AudioAnalyser::Reset() {
  if (meter_)
    ebur128_destroy(&meter_);
  meter_ = nullptr;
  rate_ = 0;
  channels_ = 0;
  frames_ = 0;
  slicesDone_ = 0;
  slice_ = Slice();
  sliceEnergy_.fill(0);
  sliceTruePeak_ = {};
  for (auto& check : channelLoss_)
    check.Reset();
  phase_.Reset();
  clipping_.Reset();
  loudness_.Reset();
  for (auto& peaks : truePeakSlices_)
    peaks.fill(0);
  const auto runs = readings_.clippingRuns;
  readings_ = AudioReadings();
  readings_.clippingRuns = runs;  // a counter never goes back
}

std::vector<StationEvent> AudioAnalyser::OnBlock(int32_t sampleRate, unsigned channels,
                                                 std::span<const uint8_t> samples) {
  std::vector<StationEvent> events;
  if (sampleRate < 8000 || sampleRate > 384000 || channels == 0 || channels > 8)
    return events;  // nothing a meter can take
  if (sampleRate != rate_ || channels != channels_ || !meter_) {
    Reset();
    // The short-term loudness is summed here from the slices: the meter keeps 400 ms.
    meter_ = ebur128_init(
        channels, static_cast<unsigned long>(sampleRate),
        EBUR128_MODE_M | EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK | EBUR128_MODE_HISTOGRAM);
    if (!meter_)
      return events;
    rate_ = sampleRate;
    channels_ = channels;
    readings_.sampleRate = sampleRate;
    readings_.channels = channels;
  }
  // The block's bytes need not be aligned for int16_t: copied out first.
  const std::size_t frames = samples.size() / (2 * channels);
  samples_.resize(frames * channels);
  std::memcpy(samples_.data(), samples.data(), samples_.size() * sizeof(int16_t));

  const uint64_t sliceFrames = static_cast<uint64_t>(rate_ / kSlicesPerSecond);
  const std::size_t right = channels >= 2 ? 1 : 0;  // mono reads as both
  // The block goes to the meter in pieces that end where a slice ends.
  for (std::size_t start = 0; start < frames;) {
    const std::size_t end = std::min<std::size_t>(frames, start + sliceFrames - slice_.frames);
    Slice& s = slice_;
    for (std::size_t i = start; i < end; ++i) {
      const int16_t l = samples_[i * channels];
      const int16_t r = samples_[i * channels + right];
      s.low[0] = std::min<int>(s.low[0], l);
      s.high[0] = std::max<int>(s.high[0], l);
      s.low[1] = std::min<int>(s.low[1], r);
      s.high[1] = std::max<int>(s.high[1], r);
      s.sum[0] += l;
      s.sum[1] += r;
      s.lr += int64_t{l} * r;
      s.ll += int64_t{l} * l;
      s.rr += int64_t{r} * r;
      clipping_.Sample(0, l, frames_);
      if (right)
        clipping_.Sample(1, r, frames_);
      ++frames_;
    }
    s.frames += end - start;
    ebur128_add_frames_short(meter_, samples_.data() + start * channels, end - start);
    for (unsigned c = 0; c < std::min(channels, 2u); ++c) {
      double peak = 0;
      if (ebur128_prev_true_peak(meter_, c, &peak) == EBUR128_SUCCESS)
        sliceTruePeak_[c] = std::max(sliceTruePeak_[c], peak);
    }
    if (channels == 1)
      sliceTruePeak_[1] = sliceTruePeak_[0];
    start = end;
    if (s.frames == sliceFrames) {
      EndSlice(s, events);
      slice_ = Slice();
    }
  }
  return events;
}

void AudioAnalyser::EndSlice(const Slice& slice, std::vector<StationEvent>& events) {
  const double seconds = static_cast<double>(slice.frames) / rate_;
  const double rate = rate_;
  AudioReadings& r = readings_;
  r.audioSeconds = static_cast<double>(frames_) / rate;
  for (int c = 0; c < 2; ++c) {
    // One step of the last bit counts as none, as the utility's levels read it (-90.3 dB).
    const double swing = std::max(1.0, (slice.high[c] - slice.low[c]) / 2.0);
    r.levelDb[c] = Db(swing / kFullScale);
    r.dcOffset[c] =
        static_cast<double>(slice.sum[c]) / static_cast<double>(slice.frames) / kFullScale;
  }
  const bool stereo = channels_ >= 2;
  const bool bothSound =
      r.levelDb[0] >= settings_.channelLevelDb && r.levelDb[1] >= settings_.channelLevelDb;

  if (stereo) {
    for (int c = 0; c < 2; ++c) {
      const auto change = channelLoss_[c].Add(seconds, r.levelDb[c], r.levelDb[1 - c]);
      if (change != ChannelLossCheck::Change::kNone && settings_.channel) {
        Raise(events,
              change == ChannelLossCheck::Change::kRaised ? EventKind::kChannelLost
                                                          : EventKind::kChannelBack,
              c == 0 ? Channel::kLeft : Channel::kRight, r.levelDb[c]);
      }
      r.channelLost[c] = settings_.channel && channelLoss_[c].Lost();
    }
    const auto change =
        phase_.Add(seconds, static_cast<double>(slice.lr), static_cast<double>(slice.ll),
                   static_cast<double>(slice.rr), bothSound);
    r.correlation = phase_.Correlation();
    if (change != PhaseCheck::Change::kNone && settings_.phase) {
      Raise(events,
            change == PhaseCheck::Change::kRaised ? EventKind::kPhaseReversed
                                                  : EventKind::kPhaseNormal,
            Channel::kNone, r.correlation);
    }
    r.phaseReversed = settings_.phase && phase_.Reversed();
  }

  const auto clipped = clipping_.Evaluate(frames_, rate);
  if (clipped != ClippingCheck::Change::kNone && settings_.clipping) {
    Raise(events,
          clipped == ClippingCheck::Change::kClipping ? EventKind::kClipping
                                                      : EventKind::kClippingEnd,
          Channel::kNone, static_cast<double>(clipping_.RunsInWindow()));
  }
  r.clipping = settings_.clipping && clipping_.Clipping();
  r.clippingRuns = {clipping_.Runs(0), clipping_.Runs(1)};

  // The true peak of the slice; the last 3 s are kept.
  const std::size_t at = slicesDone_ % truePeakSlices_[0].size();
  for (int c = 0; c < 2; ++c) {
    truePeakSlices_[c][at] = sliceTruePeak_[c];
    r.truePeakDb[c] = Db(*std::max_element(truePeakSlices_[c].begin(), truePeakSlices_[c].end()));
    double highest = 0;
    if (ebur128_true_peak(meter_, static_cast<unsigned>(std::min(c, int(channels_) - 1)),
                          &highest) == EBUR128_SUCCESS)
      r.truePeakMaxDb[c] = Db(highest);
  }
  sliceTruePeak_ = {};
  ReadLoudness(seconds, events);
  ++slicesDone_;
}

void AudioAnalyser::ReadLoudness(double seconds, std::vector<StationEvent>& events) {
  AudioReadings& r = readings_;
  double value = kNoReading;
  sliceEnergy_[slicesDone_ % kSlicesPerShortTerm] =
      ebur128_loudness_window(meter_, 1000 / kSlicesPerSecond, &value) == EBUR128_SUCCESS
          ? Energy(value)
          : 0;
  double sum = 0;
  for (const double energy : sliceEnergy_)
    sum += energy;
  r.shortTermLufs = Gated(Lufs(sum / kSlicesPerShortTerm));
  r.momentaryLufs =
      ebur128_loudness_momentary(meter_, &value) == EBUR128_SUCCESS ? Gated(value) : kNoReading;
  if ((slicesDone_ + 1) % kSlicesPerSecond == 0)
    r.integratedLufs =
        ebur128_loudness_global(meter_, &value) == EBUR128_SUCCESS ? value : kNoReading;

  // The short-term loudness reads the last 3 s: before 3 s of audio it reads the start short.
  const bool fullWindow = frames_ >= static_cast<uint64_t>(3 * rate_);
  const auto loud = loudness_.Add(seconds, fullWindow ? r.shortTermLufs : kNoReading);
  if (loud != LoudnessCheck::Change::kNone && settings_.loudness) {
    Raise(events,
          loud == LoudnessCheck::Change::kRaised ? EventKind::kLoudnessOff : EventKind::kLoudnessOk,
          Channel::kNone, r.shortTermLufs);
  }
  r.loudnessOff = settings_.loudness && loudness_.Off();
}

void AudioAnalyser::Raise(std::vector<StationEvent>& events, EventKind kind, Channel channel,
                          double value) {
  StationEvent event;
  event.kind = kind;
  event.device = Device::kCard;
  event.channel = channel;
  event.value = value;
  events.push_back(std::move(event));
}

}  // namespace calvora::ctl
