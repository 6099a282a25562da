#include "MetricsExposition.h"

#include <vector>

#include "ExpositionWriter.h"

namespace calvora::ctl {

namespace {

double UnixSeconds(StationSnapshot::Clock::time_point at) {
  return std::chrono::duration<double>(at.time_since_epoch()).count();
}

double Flag(bool on) {
  return on ? 1 : 0;
}

}  // namespace

std::string MetricsExposition(const StationSnapshot& state) {
  ExpositionWriter out(state.station);
  const auto& block = state.lastBlock;
  const auto& card = state.online[static_cast<std::size_t>(Device::kCard)];
  const auto& mixer = state.online[static_cast<std::size_t>(Device::kMixer)];
  out.Add("calvora_utility_up", "gauge", "1 while attached to a running utility, 0 without one.",
          {Flag(state.utilityUp)});
  out.Add("calvora_silence", "gauge",
          "1 while the utility reports silence on the sound card, 0 while sound, NaN while not "
          "known.",
          {state.silent ? Flag(*state.silent) : kNoReading});
  out.Add("calvora_last_verdict_timestamp_seconds", "gauge",
          "Unix time of the last silence or sound-back verdict (NaN before the first).",
          {state.lastVerdict ? UnixSeconds(state.lastVerdict->at) : kNoReading});
  out.Add("calvora_level_dbfs", "gauge", "Peak level of the last audio block per channel, dBFS.",
          {{"channel", "left", block ? block->leftDb : kNoReading},
           {"channel", "right", block ? block->rightDb : kNoReading}});
  out.Add("calvora_device_online", "gauge",
          "1 while the device is online, 0 while offline or not yet reported.",
          {{"device", "card", Flag(card == true)}, {"device", "mixer", Flag(mixer == true)}});
  // Apart from the above: a station without a mixer never reports one, and that is no fault.
  out.Add("calvora_device_offline", "gauge",
          "1 while the utility reports the device offline, 0 while online or not reported.",
          {{"device", "card", Flag(card == false)}, {"device", "mixer", Flag(mixer == false)}});
  out.Add("calvora_audio_blocks_total", "counter", "Audio blocks received from the utility.",
          {static_cast<double>(state.audioBlocks)});
  out.Add("calvora_last_audio_block_timestamp_seconds", "gauge",
          "Unix time of the last audio block (NaN before the first).",
          {block ? UnixSeconds(block->at) : kNoReading});
  const AudioReadings& r = state.readings;
  out.Add("calvora_loudness_momentary_lufs", "gauge",
          "EBU R128 momentary loudness (400 ms) of the received audio, LUFS.", {r.momentaryLufs});
  out.Add("calvora_loudness_short_term_lufs", "gauge",
          "EBU R128 short-term loudness (3 s) of the received audio, LUFS.", {r.shortTermLufs});
  out.Add("calvora_loudness_integrated_lufs", "gauge",
          "EBU R128 integrated loudness of the received audio since this peer started, LUFS.",
          {r.integratedLufs});
  out.Add("calvora_true_peak_dbtp", "gauge",
          "Highest true peak (4x oversampled) of the last 3 s per channel, dBTP.",
          {{"channel", "left", r.truePeakDb[0]}, {"channel", "right", r.truePeakDb[1]}});
  out.Add("calvora_true_peak_max_dbtp", "gauge",
          "Highest true peak per channel since this peer started, dBTP.",
          {{"channel", "left", r.truePeakMaxDb[0]}, {"channel", "right", r.truePeakMaxDb[1]}});
  out.Add("calvora_phase_correlation", "gauge",
          "Correlation of left and right over 400 ms, -1 to 1 (NaN without sound on both).",
          {r.correlation});
  out.Add("calvora_phase_reversed", "gauge", "1 while the channels are in opposite phase.",
          {Flag(r.phaseReversed)});
  out.Add(
      "calvora_channel_lost", "gauge", "1 while the channel is lost and the other plays.",
      {{"channel", "left", Flag(r.channelLost[0])}, {"channel", "right", Flag(r.channelLost[1])}});
  out.Add("calvora_clipping_runs_total", "counter",
          "Runs of samples at full scale per channel since this peer started.",
          {{"channel", "left", static_cast<double>(r.clippingRuns[0])},
           {"channel", "right", static_cast<double>(r.clippingRuns[1])}});
  out.Add("calvora_clipping", "gauge", "1 while the programme clips.", {Flag(r.clipping)});
  out.Add("calvora_loudness_off_target", "gauge",
          "1 while the short-term loudness stays away from the target.", {Flag(r.loudnessOff)});
  out.Add("calvora_dc_offset_ratio", "gauge",
          "Mean of the samples over the last 100 ms per channel, as a ratio of full scale.",
          {{"channel", "left", r.dcOffset[0]}, {"channel", "right", r.dcOffset[1]}});
  std::vector<ExpositionSample> events;
  for (std::size_t kind = 0; kind < kEventKindCount; ++kind)
    events.emplace_back("event", EventName(static_cast<EventKind>(kind)),
                        static_cast<double>(state.eventCounts[kind]));
  out.Add("calvora_events_total", "counter",
          "Events since this peer started, by event (silences, returns of sound, devices, checks).",
          events);
  return out.Text();
}

}  // namespace calvora::ctl
