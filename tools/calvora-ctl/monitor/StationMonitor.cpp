#include "StationMonitor.h"

namespace calvora::ctl {

StationMonitor::StationMonitor(std::string station) {
  state_.station = std::move(station);
}

void StationMonitor::OnAudio(int32_t sampleRate, double left, double right, Clock::time_point at) {
  std::lock_guard lock(mutex_);
  ++state_.audioBlocks;
  state_.lastBlock = StationSnapshot::AudioBlock{left, right, sampleRate, at};
  // Blocks come only from a capturing sound card: a peer that joined after the card's online
  // notice learns it from them.
  auto& card = state_.online[static_cast<std::size_t>(Device::kCard)];
  if (!card)
    card = true;
}

void StationMonitor::OnReadings(const AudioReadings& readings) {
  std::lock_guard lock(mutex_);
  state_.readings = readings;
}

void StationMonitor::OnEvent(const StationEvent& event, Clock::time_point at) {
  std::lock_guard lock(mutex_);
  ++state_.eventCounts[static_cast<std::size_t>(event.kind)];
  state_.recentEvents.push_front(event);
  if (state_.recentEvents.size() > kRecentEvents)
    state_.recentEvents.pop_back();
  switch (event.kind) {
    case EventKind::kSilence:
    case EventKind::kSound:
      state_.silent = event.kind == EventKind::kSilence;
      state_.lastVerdict = StationSnapshot::Verdict{event.kind, event.at.iso, at};
      break;
    case EventKind::kOffline:
    case EventKind::kOnline:
      state_.online[static_cast<std::size_t>(event.device)] = event.kind == EventKind::kOnline;
      // Without the sound card nothing is known of the air, and the readings of the audio
      // before are no reading of what comes after.
      if (event.device == Device::kCard && event.kind == EventKind::kOffline)
        ForgetTheAir();
      break;
    default:
      break;  // the checks' states come with the readings
  }
}

void StationMonitor::OnUtility(bool up) {
  std::lock_guard lock(mutex_);
  state_.utilityUp = up;
  if (!up) {
    ForgetTheAir();
    state_.online = {};
  }
}

void StationMonitor::OnVerdict(std::optional<bool> silent) {
  std::lock_guard lock(mutex_);
  state_.silent = silent;
}

void StationMonitor::ForgetTheAir() {
  state_.silent.reset();
  const auto runs = state_.readings.clippingRuns;
  state_.readings = AudioReadings();
  state_.readings.clippingRuns = runs;
}

StationSnapshot StationMonitor::Snapshot() {
  std::lock_guard lock(mutex_);
  return state_;
}

}  // namespace calvora::ctl
