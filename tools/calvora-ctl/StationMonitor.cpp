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

StationMonitor::StationMonitor(std::string station) : station_(std::move(station)) {
  AudioReadings none;
  none.levelDb = none.dcOffset = none.truePeakDb = none.truePeakMaxDb = {kNaN, kNaN};
  none.correlation = none.momentaryLufs = none.shortTermLufs = none.integratedLufs = kNaN;
  readings_ = none;
}

StationMonitor::~StationMonitor() = default;

void StationMonitor::OnAudio(int32_t sampleRate, double left, double right, Clock::time_point at) {
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
}

void StationMonitor::OnReadings(const AudioReadings& readings) {
  std::lock_guard lock(mutex_);
  readings_ = readings;
}

void StationMonitor::OnEvent(const StationEvent& event, Clock::time_point at) {
  std::lock_guard lock(mutex_);
  ++counts_[static_cast<std::size_t>(event.kind)];
  recent_.push_front(EventJson(event));
  if (recent_.size() > kRecentEvents)
    recent_.pop_back();
  switch (event.kind) {
    case EventKind::kSilence:
    case EventKind::kSound:
      silent_ = event.kind == EventKind::kSilence;
      ++(silent_ ? silences_ : soundBacks_);
      haveVerdict_ = true;
      lastVerdict_ = at;
      lastVerdictName_ = EventName(event.kind);
      lastVerdictTime_ = event.at.iso;
      break;
    case EventKind::kOffline:
    case EventKind::kOnline:
      online_[static_cast<int>(event.device)] = event.kind == EventKind::kOnline;
      // Without the sound card nothing is known of the air, and the readings of the audio
      // before are no reading of what comes after.
      if (event.device == Device::kCard && event.kind == EventKind::kOffline) {
        silent_ = false;
        const auto runs = readings_.clippingRuns;
        readings_ = StationMonitor().readings_;
        readings_.clippingRuns = runs;
      }
      break;
    default:
      break;  // the checks' states come with the readings
  }
}

std::string StationMonitor::EventJson(const StationEvent& event) {
  Json line{{"time", event.at.iso}, {"event", EventName(event.kind)}};
  if (!IsCheckEvent(event.kind) && event.kind != EventKind::kSilence &&
      event.kind != EventKind::kSound)
    line["device"] = DeviceName(event.device);
  if (event.channel != Channel::kNone)
    line["channel"] = ChannelName(event.channel);
  if (IsCheckEvent(event.kind))
    line["value"] = JsonNumber(event.value);
  return line.dump();
}

std::string StationMonitor::Metrics(Clock::time_point now) {
  std::lock_guard lock(mutex_);
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
  const AudioReadings& r = readings_;
  Add(out,
      {"calvora_loudness_momentary_lufs", "gauge",
       "EBU R128 momentary loudness (400 ms) of the received audio, LUFS."},
      {{"", r.momentaryLufs}});
  Add(out,
      {"calvora_loudness_short_term_lufs", "gauge",
       "EBU R128 short-term loudness (3 s) of the received audio, LUFS."},
      {{"", r.shortTermLufs}});
  Add(out,
      {"calvora_loudness_integrated_lufs", "gauge",
       "EBU R128 integrated loudness of the received audio since this peer started, LUFS."},
      {{"", r.integratedLufs}});
  Add(out,
      {"calvora_true_peak_dbtp", "gauge",
       "Highest true peak (4x oversampled) of the last 3 s per channel, dBTP."},
      {{"{channel=\"left\"}", r.truePeakDb[0]}, {"{channel=\"right\"}", r.truePeakDb[1]}});
  Add(out,
      {"calvora_true_peak_max_dbtp", "gauge",
       "Highest true peak per channel since this peer started, dBTP."},
      {{"{channel=\"left\"}", r.truePeakMaxDb[0]}, {"{channel=\"right\"}", r.truePeakMaxDb[1]}});
  Add(out,
      {"calvora_phase_correlation", "gauge",
       "Correlation of left and right over 400 ms, -1 to 1 (NaN without sound on both)."},
      {{"", r.correlation}});
  Add(out, {"calvora_phase_reversed", "gauge", "1 while the channels are in opposite phase."},
      {{"", r.phaseReversed ? 1 : 0}});
  Add(out, {"calvora_channel_lost", "gauge", "1 while the channel is lost and the other plays."},
      {{"{channel=\"left\"}", r.channelLost[0] ? 1 : 0},
       {"{channel=\"right\"}", r.channelLost[1] ? 1 : 0}});
  Add(out,
      {"calvora_clipping_runs_total", "counter",
       "Runs of samples at full scale per channel since this peer started."},
      {{"{channel=\"left\"}", static_cast<double>(r.clippingRuns[0])},
       {"{channel=\"right\"}", static_cast<double>(r.clippingRuns[1])}});
  Add(out, {"calvora_clipping", "gauge", "1 while the programme clips."},
      {{"", r.clipping ? 1 : 0}});
  Add(out,
      {"calvora_loudness_off_target", "gauge",
       "1 while the short-term loudness stays away from the target."},
      {{"", r.loudnessOff ? 1 : 0}});
  Add(out,
      {"calvora_dc_offset", "gauge",
       "Mean of the samples over the last 100 ms per channel, in parts of full scale."},
      {{"{channel=\"left\"}", r.dcOffset[0]}, {"{channel=\"right\"}", r.dcOffset[1]}});
  std::string counted;
  for (std::size_t kind = 0; kind < kEventKindCount; ++kind) {
    counted += std::string("calvora_events_total{event=\"") +
               EventName(static_cast<EventKind>(kind)) + "\"} " +
               PromNumber(static_cast<double>(counts_[kind])) + "\n";
  }
  out +=
      "# HELP calvora_events_total Events since this peer started, by event.\n"
      "# TYPE calvora_events_total counter\n" +
      counted;
  return Labelled(out);
}

std::string StationMonitor::Labelled(const std::string& exposition) const {
  return station_.empty() ? exposition : AddLabelToEverySample(exposition, "station", station_);
}

std::string StationMonitor::Status(Clock::time_point now) {
  std::lock_guard lock(mutex_);
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
       {{"momentary", JsonNumber(readings_.momentaryLufs)},
        {"shortTerm", JsonNumber(readings_.shortTermLufs)}}}};
  return status.dump() + "\n";
}

std::string StationMonitor::LiveJson(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  const AudioReadings& r = readings_;
  auto device = [](int state) { return state < 0 ? Json(nullptr) : Json(state == 1); };
  auto pair = [](const std::array<double, 2>& values) {
    return Json::array({JsonNumber(values[0]), JsonNumber(values[1])});
  };
  const bool fresh = haveAudio_ && SecondsBetween(lastBlock_, now) < 2;
  Json live{{"online", {{"card", device(online_[0])}, {"mixer", device(online_[1])}}},
            {"silence", silent_},
            {"audio", fresh},
            {"levels", fresh ? pair({left_, right_}) : Json(nullptr)},
            {"correlation", JsonNumber(r.correlation)},
            {"momentary", JsonNumber(r.momentaryLufs)},
            {"shortTerm", JsonNumber(r.shortTermLufs)},
            {"integrated", JsonNumber(r.integratedLufs)},
            {"truePeak", pair(r.truePeakDb)},
            {"faults",
             {{"channelLost", Json::array({r.channelLost[0], r.channelLost[1]})},
              {"phaseReversed", r.phaseReversed},
              {"clipping", r.clipping},
              {"loudnessOff", r.loudnessOff}}}};
  return live.dump();
}

std::string StationMonitor::RecentEventsJson() {
  std::lock_guard lock(mutex_);
  std::string out = "[";
  for (const auto& event : recent_)
    out += (out.size() > 1 ? "," : "") + event;
  return out + "]";
}

}  // namespace calvora::ctl
