#include "LiveJson.h"

namespace calvora::ctl {

Json DeviceStatesJson(const StationSnapshot& state) {
  const auto device = [&state](Device which) {
    const auto& online = state.online[static_cast<std::size_t>(which)];
    return online ? Json(*online) : Json(nullptr);
  };
  return Json{{"card", device(Device::kCard)}, {"mixer", device(Device::kMixer)}};
}

std::string LiveJson(const StationSnapshot& state, StationSnapshot::Clock::time_point now) {
  const AudioReadings& r = state.readings;
  const auto pair = [](double left, double right) {
    return Json::array({JsonNumber(left), JsonNumber(right)});
  };
  const auto& block = state.lastBlock;
  const bool fresh = block && std::chrono::duration<double>(now - block->at).count() < 2;
  Json live{{"utility", state.utilityUp},
            {"online", DeviceStatesJson(state)},
            {"silence", state.silent ? Json(*state.silent) : Json(nullptr)},
            {"audio", fresh},
            {"levels", fresh ? pair(block->leftDb, block->rightDb) : Json(nullptr)},
            {"correlation", JsonNumber(r.correlation)},
            {"momentary", JsonNumber(r.momentaryLufs)},
            {"shortTerm", JsonNumber(r.shortTermLufs)},
            {"integrated", JsonNumber(r.integratedLufs)},
            {"truePeak", pair(r.truePeakDb[0], r.truePeakDb[1])},
            {"faults",
             {{"channelLost", Json::array({r.channelLost[0], r.channelLost[1]})},
              {"phaseReversed", r.phaseReversed},
              {"clipping", r.clipping},
              {"loudnessOff", r.loudnessOff}}}};
  return live.dump();
}

std::string RecentEventsJson(const StationSnapshot& state) {
  std::string out = "[";
  for (const auto& event : state.recentEvents)
    out += (out.size() > 1 ? "," : "") + EventJson(event);
  return out + "]";
}

std::string EventJson(const StationEvent& event) {
  Json line{{"time", event.at.iso}, {"event", EventName(event.kind)}};
  if (!IsCheckEvent(event.kind) && event.kind != EventKind::kSilence &&
      event.kind != EventKind::kSound)
    line["device"] = DeviceName(event.device);
  if (event.channel != Channel::kNone)
    line["channel"] = ChannelName(event.channel);
  if (IsCheckEvent(event.kind))
    line["value"] = JsonNumber(event.value);
  // The clip by its name under the clips folder (the day's folder and the file), as the
  // server serves it at /clips/.
  if (const auto file = event.clip.rfind('/'); file != std::string::npos && file > 0) {
    const auto day = event.clip.rfind('/', file - 1);
    line["clip"] = event.clip.substr(day == std::string::npos ? 0 : day + 1);
  }
  return line.dump();
}

}  // namespace calvora::ctl
