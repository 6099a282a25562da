#include "EventCommands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace calvora::ctl {

namespace {

std::string LevelText(double db) {
  if (!std::isfinite(db))
    return "";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", db);
  return text;
}

}  // namespace

std::unique_ptr<EventCommands> EventCommands::Make(const EventActions& actions,
                                                   platform::WindowHandle utility,
                                                   const ReportLine& report) {
  if (std::all_of(actions.begin(), actions.end(), [](const auto& argv) { return argv.empty(); }))
    return nullptr;
  std::unique_ptr<EventCommands> commands(new EventCommands(utility));
  for (std::size_t i = 0; i < commands->runners_.size(); ++i) {
    if (!actions[i].empty()) {
      commands->runners_[i] = std::make_unique<ActionRunner>(
          std::string("on-") + EventName(static_cast<EventKind>(i)), actions[i], report);
    }
  }
  return commands;
}

void EventCommands::OnEvent(const StationEvent& event) {
  if (auto& runner = runners_[static_cast<std::size_t>(event.kind)]) {
    std::vector<std::string> environment{std::string("CALVORA_EVENT=") + EventName(event.kind),
                                         std::string("CALVORA_DEVICE=") + DeviceName(event.device),
                                         "CALVORA_TIME=" + event.at.iso,
                                         "CALVORA_LEFT_DB=" + LevelText(event.left),
                                         "CALVORA_RIGHT_DB=" + LevelText(event.right),
                                         "CALVORA_HANDLE=" + std::to_string(utility_)};
    if (IsCheckEvent(event.kind)) {
      environment.push_back(std::string("CALVORA_CHANNEL=") + ChannelName(event.channel));
      environment.push_back("CALVORA_VALUE=" + CheckValueText(event.value));
    }
    if (!event.clip.empty())
      environment.push_back("CALVORA_CLIP=" + event.clip);
    runner->Trigger(std::move(environment));
  }
}

}  // namespace calvora::ctl
