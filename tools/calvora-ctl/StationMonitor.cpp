#include "StationMonitor.h"

#include "ExpositionLabels.h"
#include "JsonValues.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace calvora::ctl {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A number as the Prometheus text format writes it.
std::string PromNumber(double value) {
  if (std::isnan(value))
    return "NaN";
  if (std::isinf(value))
    return value > 0 ? "+Inf" : "-Inf";
  char text[32];
  const bool whole = value == std::round(value) && std::fabs(value) < 1e15;
  std::snprintf(text, sizeof text, whole ? "%.0f" : "%.6f", value);
  return text;
}

double SecondsBetween(StationMonitor::Clock::time_point from,
                      StationMonitor::Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

struct Metric {
  const char* name;
  const char* type;
  const char* help;
};

void Add(std::string& out, const Metric& metric,
         std::initializer_list<std::pair<std::string, double>> samples) {
  out += std::string("# HELP ") + metric.name + " " + metric.help + "\n# TYPE " + metric.name +
         " " + metric.type + "\n";
  for (const auto& [labels, value] : samples)
    out += metric.name + labels + " " + PromNumber(value) + "\n";
}

}  // namespace

StationMonitor::StationMonitor(std::string station) : station_(std::move(station)) {}

StationMonitor::~StationMonitor() {
  if (meter_)
    ebur128_destroy(&meter_);
}

void StationMonitor::OnAudio(int32_t sampleRate, unsigned channels, double left, double right,
                             std::span<const uint8_t> samples, Clock::time_point at) {
  std::lock_guard lock(mutex_);
  ++blocks_;
  haveAudio_ = true;
  left_ = left;
  right_ = right;
  sampleRate_ = sampleRate;
  lastBlock_ = at;
  // Blocks come only from a capturing sound card: a peer that joined after the card's online
  // notice learns it from them.
  if (online_[0] < 0)
    online_[0] = 1;
  if (sampleRate < 8000 || sampleRate > 384000 || channels == 0 || channels > 8)
    return;  // nothing a loudness meter can take
  const auto rate = static_cast<unsigned long>(sampleRate);
  if (!meter_ || rate != meterRate_ || channels != meterChannels_) {
    if (meter_)
      ebur128_destroy(&meter_);
    meter_ = ebur128_init(channels, rate, EBUR128_MODE_S);
    meterRate_ = rate;
    meterChannels_ = channels;
    if (!meter_)
      return;
  }
  // The block's bytes need not be aligned for int16_t: copied out first.
  const std::size_t frames = samples.size() / (2 * channels);
  frames_.resize(frames * channels);
  std::memcpy(frames_.data(), samples.data(), frames_.size() * sizeof(int16_t));
  ebur128_add_frames_short(meter_, frames_.data(), frames);
}

void StationMonitor::OnEvent(const StationEvent& event, Clock::time_point at) {
  std::lock_guard lock(mutex_);
  switch (event.kind) {
    case EventKind::kSilence:
    case EventKind::kSound:
      silent_ = event.kind == EventKind::kSilence;
      ++(silent_ ? silences_ : soundBacks_);
      haveVerdict_ = true;
      lastVerdict_ = at;
      lastVerdictName_ = EventName(event.kind);
      lastVerdictTime_ = event.time;
      break;
    case EventKind::kOffline:
    case EventKind::kOnline:
      online_[static_cast<int>(event.device)] = event.kind == EventKind::kOnline;
      // Without the sound card nothing is known of the air, and the loudness of the audio
      // before is no reading of what comes after.
      if (event.device == Device::kCard && event.kind == EventKind::kOffline) {
        silent_ = false;
        ResetLoudness();
      }
      break;
  }
}

void StationMonitor::ResetLoudness() {
  if (meter_)
    ebur128_destroy(&meter_);
  meter_ = nullptr;
}

StationMonitor::Loudness StationMonitor::MeasureLoudness() {
  Loudness loudness{kNaN, kNaN};
  if (meter_) {
    if (ebur128_loudness_momentary(meter_, &loudness.momentary) != EBUR128_SUCCESS)
      loudness.momentary = kNaN;
    if (ebur128_loudness_shortterm(meter_, &loudness.shortTerm) != EBUR128_SUCCESS)
      loudness.shortTerm = kNaN;
  }
  return loudness;
}

std::string StationMonitor::Metrics(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  const Loudness loudness = MeasureLoudness();
  std::string out;
  Add(out, {"calvora_silence", "gauge", "1 while the utility reports silence on the sound card."},
      {{"", silent_ ? 1 : 0}});
  Add(out,
      {"calvora_seconds_since_verdict", "gauge",
       "Seconds since the last silence or sound-back verdict (NaN before the first)."},
      {{"", haveVerdict_ ? SecondsBetween(lastVerdict_, now) : kNaN}});
  Add(out, {"calvora_level_db", "gauge", "Peak level of the last audio block per channel, dBFS."},
      {{"{channel=\"left\"}", haveAudio_ ? left_ : kNaN},
       {"{channel=\"right\"}", haveAudio_ ? right_ : kNaN}});
  Add(out,
      {"calvora_device_online", "gauge",
       "1 while the device is online, 0 while offline or not yet reported."},
      {{"{device=\"card\"}", online_[0] == 1 ? 1 : 0},
       {"{device=\"mixer\"}", online_[1] == 1 ? 1 : 0}});
  // Apart from the above: a station without a mixer never reports one, and that is no fault.
  Add(out,
      {"calvora_device_offline", "gauge",
       "1 while the utility reports the device offline, 0 while online or not reported."},
      {{"{device=\"card\"}", online_[0] == 0 ? 1 : 0},
       {"{device=\"mixer\"}", online_[1] == 0 ? 1 : 0}});
  Add(out, {"calvora_silences_total", "counter", "Silences reported since this peer started."},
      {{"", static_cast<double>(silences_)}});
  Add(out,
      {"calvora_sound_backs_total", "counter",
       "Returns of sound reported since this peer started."},
      {{"", static_cast<double>(soundBacks_)}});
  Add(out, {"calvora_audio_blocks_total", "counter", "Audio blocks received from the utility."},
      {{"", static_cast<double>(blocks_)}});
  Add(out,
      {"calvora_seconds_since_audio_block", "gauge",
       "Seconds since the last audio block (NaN before the first)."},
      {{"", haveAudio_ ? SecondsBetween(lastBlock_, now) : kNaN}});
  Add(out,
      {"calvora_loudness_momentary_lufs", "gauge",
       "EBU R128 momentary loudness (400 ms) of the received audio, LUFS."},
      {{"", loudness.momentary}});
  Add(out,
      {"calvora_loudness_short_term_lufs", "gauge",
       "EBU R128 short-term loudness (3 s) of the received audio, LUFS."},
      {{"", loudness.shortTerm}});
  return station_.empty() ? out : AddLabelToEverySample(out, "station", station_);
}

std::string StationMonitor::Status(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  const Loudness loudness = MeasureLoudness();
  auto device = [](int state) { return state < 0 ? Json(nullptr) : Json(state == 1); };
  Json status{
      {"silence", silent_},
      {"lastVerdict", haveVerdict_ ? Json{{"event", lastVerdictName_},
                                          {"time", lastVerdictTime_},
                                          {"secondsAgo", SecondsBetween(lastVerdict_, now)}}
                                   : Json(nullptr)},
      {"online", {{"card", device(online_[0])}, {"mixer", device(online_[1])}}},
      {"levels", haveAudio_ ? Json{{"left", JsonNumber(left_)}, {"right", JsonNumber(right_)}}
                            : Json(nullptr)},
      {"sampleRate", sampleRate_},
      {"silences", silences_},
      {"soundBacks", soundBacks_},
      {"audioBlocks", blocks_},
      {"secondsSinceAudioBlock",
       haveAudio_ ? JsonNumber(SecondsBetween(lastBlock_, now)) : Json(nullptr)},
      {"loudness",
       {{"momentary", JsonNumber(loudness.momentary)},
        {"shortTerm", JsonNumber(loudness.shortTerm)}}}};
  return status.dump() + "\n";
}

}  // namespace calvora::ctl
