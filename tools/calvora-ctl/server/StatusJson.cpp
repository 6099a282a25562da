#include "StatusJson.h"

#include "LiveJson.h"
#include "events/JsonValues.h"

namespace calvora::ctl {

std::string StatusJson(const StationSnapshot& state, StationSnapshot::Clock::time_point now) {
  const auto secondsAgo = [now](StationSnapshot::Clock::time_point at) {
    return std::chrono::duration<double>(now - at).count();
  };
  const auto& verdict = state.lastVerdict;
  const auto& block = state.lastBlock;
  Json status{{"utility", state.utilityUp ? "running" : "not running"},
              {"silence", state.silent ? Json(*state.silent) : Json(nullptr)},
              {"lastVerdict", verdict ? Json{{"event", EventName(verdict->kind)},
                                             {"time", verdict->time},
                                             {"secondsAgo", secondsAgo(verdict->at)}}
                                      : Json(nullptr)},
              {"online", DeviceStatesJson(state)},
              {"levels", block ? Json{{"left", JsonNumber(block->leftDb)},
                                      {"right", JsonNumber(block->rightDb)}}
                               : Json(nullptr)},
              {"sampleRate", block ? block->sampleRate : 0},
              {"silences", state.Count(EventKind::kSilence)},
              {"soundBacks", state.Count(EventKind::kSound)},
              {"audioBlocks", state.audioBlocks},
              {"secondsSinceAudioBlock", block ? JsonNumber(secondsAgo(block->at)) : Json(nullptr)},
              {"loudness",
               {{"momentary", JsonNumber(state.readings.momentaryLufs)},
                {"shortTerm", JsonNumber(state.readings.shortTermLufs)}}}};
  return status.dump() + "\n";
}

}  // namespace calvora::ctl
