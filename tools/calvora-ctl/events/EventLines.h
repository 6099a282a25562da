#pragma once
// The lines calvora-ctl prints for what the utility sends it, as text or as JSON: each starts
// with the clock of its stamp in text ("14:03:07.250"), with its ISO 8601 form in JSON.
#include <cstdint>
#include <span>
#include <string>

#include "LocalTime.h"
#include "StationEvents.h"

namespace calvora::ctl {

// The name of a command or notification code, or its value in hex.
std::string CodeName(uint16_t code);

std::string NotificationLine(const Stamp& at, uint32_t from, uint16_t code, uint16_t argument,
                             bool json);
// A data message: an audio block with its header fields, or a note that it is none.
std::string DataLine(const Stamp& at, uint32_t from, uint32_t kind, std::span<const uint8_t> bytes,
                     bool json);
// An event of the checks, at the event's own stamp: "14:03:07.250 EVENT channel-lost left -96.33".
std::string CheckEventLine(const StationEvent& event, bool json);
// A command this program sent, with the answer.
std::string SentLine(const Stamp& at, uint16_t code, uint16_t argument, int32_t answer, bool json);

}  // namespace calvora::ctl
