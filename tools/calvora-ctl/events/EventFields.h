#pragma once
// An event as its fields: the one place that says which fields an event has and what they
// hold. The log line, the printed line, the JSON of the page and the commands' environment all
// write an event from these, each in its own form.
#include <optional>
#include <string>
#include <vector>

#include "StationEvents.h"

namespace calvora::ctl {

struct EventField {
  // "time", "event", "device", "left", "right", "channel", "value" or "clip".
  const char* name = "";
  std::string text;              // a text field's value
  std::optional<double> number;  // a number field's value (NaN: no reading)
};

// The fields in the order every form writes them: time (ISO 8601), event, device, the levels
// in dB (left, right), then the channel where the event names one, a check's reading (value)
// and the clip where the event has one.
std::vector<EventField> EventFields(const StationEvent& event);

// A number as the text forms write it: two decimals, or "-" for no reading.
std::string FieldNumberText(double value);
// A field's value in the text forms: its text, or its number as FieldNumberText writes it.
std::string FieldText(const EventField& field);

}  // namespace calvora::ctl
