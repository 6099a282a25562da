#include "EventFields.h"

#include <cmath>
#include <cstdio>

namespace calvora::ctl {

std::vector<EventField> EventFields(const StationEvent& event) {
  std::vector<EventField> fields{{"time", event.at.iso, std::nullopt},
                                 {"event", EventName(event.kind), std::nullopt},
                                 {"device", DeviceName(event.device), std::nullopt},
                                 {"left", {}, event.left},
                                 {"right", {}, event.right}};
  if (event.channel != Channel::kNone)
    fields.push_back({"channel", ChannelName(event.channel), std::nullopt});
  if (IsCheckEvent(event.kind))
    fields.push_back({"value", {}, event.value});
  if (!event.clip.empty())
    fields.push_back({"clip", event.clip, std::nullopt});
  return fields;
}

std::string FieldNumberText(double value) {
  if (!std::isfinite(value))
    return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

std::string FieldText(const EventField& field) {
  return field.number ? FieldNumberText(*field.number) : field.text;
}

}  // namespace calvora::ctl
