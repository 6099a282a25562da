#include "LiveJson.h"

#include <string_view>

#include "events/EventFields.h"

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
  // The page shows the device only where the event is a device's (offline, online), and no
  // levels: it has them live.
  const bool deviceEvent = event.kind == EventKind::kOffline || event.kind == EventKind::kOnline;
  Json line = Json::object();
  for (const EventField& field : EventFields(event)) {
    const std::string_view name = field.name;
    if (name == "left" || name == "right" || (name == "device" && !deviceEvent))
      continue;
    if (name == "clip") {
      // The clip by its name under the clips folder (the day's folder and the file), as the
      // server serves it at /clips/.
      const auto file = field.text.rfind('/');
      if (file == std::string::npos || file == 0)
        continue;
      const auto day = field.text.rfind('/', file - 1);
      line["clip"] = field.text.substr(day == std::string::npos ? 0 : day + 1);
      continue;
    }
    line[field.name] = field.number ? JsonNumber(*field.number) : Json(field.text);
  }
  return line.dump();
}

}  // namespace calvora::ctl
