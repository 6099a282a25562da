#include "EventCommands.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string_view>

#include "events/EventFields.h"

namespace calvora::ctl {

namespace {

// The environment's name of an event field: CALVORA_ and the field's name in capitals, the
// levels with their unit.
std::string VariableName(std::string_view field) {
  if (field == "left" || field == "right")
    return field == "left" ? "CALVORA_LEFT_DB" : "CALVORA_RIGHT_DB";
  std::string name = "CALVORA_";
  for (char c : field)
    name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
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
    std::vector<std::string> environment;
    for (const EventField& field : EventFields(event)) {
      // A level not known is empty here (a shell's test of it reads plainly); a check's
      // reading not known is "-", as in the lines.
      const bool level = field.number && std::string_view(field.name) != "value";
      const std::string value =
          level && !std::isfinite(*field.number) ? std::string() : FieldText(field);
      environment.push_back(VariableName(field.name) + "=" + value);
    }
    environment.push_back("CALVORA_HANDLE=" + std::to_string(utility_));
    // The checks always name their channel, empty where it is none.
    if (IsCheckEvent(event.kind) && event.channel == Channel::kNone)
      environment.push_back("CALVORA_CHANNEL=");
    runner->Trigger(std::move(environment));
  }
}

}  // namespace calvora::ctl
