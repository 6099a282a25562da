#include "StationEvents.h"

#include <cmath>
#include <string_view>

#include "EventFields.h"
#include "JsonValues.h"
#include "link/WinMSG.h"

namespace calvora::ctl {

const char* EventName(EventKind kind) {
  switch (kind) {
    case EventKind::kSilence:
      return "silence";
    case EventKind::kSound:
      return "sound";
    case EventKind::kOffline:
      return "offline";
    case EventKind::kOnline:
      return "online";
    case EventKind::kChannelLost:
      return "channel-lost";
    case EventKind::kChannelBack:
      return "channel-back";
    case EventKind::kPhaseReversed:
      return "phase-reversed";
    case EventKind::kPhaseNormal:
      return "phase-normal";
    case EventKind::kClipping:
      return "clipping";
    case EventKind::kClippingEnd:
      return "clipping-end";
    case EventKind::kLoudnessOff:
      return "loudness-off";
    case EventKind::kLoudnessOk:
      return "loudness-ok";
  }
  return "?";
}

const char* ChannelName(Channel channel) {
  return channel == Channel::kLeft ? "left" : channel == Channel::kRight ? "right" : "";
}

bool IsCheckEvent(EventKind kind) {
  return static_cast<int>(kind) >= static_cast<int>(EventKind::kChannelLost);
}

std::optional<bool> SilentFromVerdict(int32_t answer) {
  if (answer == link::VERDICT_SILENCE)
    return true;
  if (answer == link::VERDICT_SOUND)
    return false;
  return std::nullopt;
}

const char* VerdictName(int32_t answer) {
  switch (answer) {
    case link::VERDICT_SOUND:
      return "sound";
    case link::VERDICT_SILENCE:
      return "silence";
    case link::VERDICT_NOT_STARTED:
      return "not started";
    case link::VERDICT_NO_CAPTURE:
      return "no capture";
    case link::VERDICT_NO_DETECTION:
      return "no detection";
    default:
      return "unknown";
  }
}

const char* DeviceName(Device device) {
  return device == Device::kCard ? "card" : "mixer";
}

std::string EventLogLine(const StationEvent& event, bool json) {
  const auto fields = EventFields(event);
  if (json) {
    Json line = Json::object();
    for (const EventField& field : fields)
      line[field.name] = field.number ? JsonNumber(*field.number) : Json(field.text);
    return line.dump();
  }
  // The time, the event and the device bare, the rest as name=value; the levels are a pair,
  // both "-" unless both are known.
  const bool levels = std::isfinite(event.left) && std::isfinite(event.right);
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const EventField& field = fields[i];
    const bool level =
        field.name == std::string_view("left") || field.name == std::string_view("right");
    const std::string value = level && !levels ? "-" : FieldText(field);
    line += i == 0 ? "" : " ";
    line += i < 3 ? value : std::string(field.name) + "=" + value;
  }
  return line;
}

std::string CheckValueText(double value) {
  return FieldNumberText(value);
}

std::optional<StationEvent> EventTracker::Notice(uint16_t code, uint16_t argument) {
  StationEvent event;
  std::optional<bool>* state = nullptr;
  bool value = false;
  switch (code) {
    case link::NTF_SILENCE:
    case link::NTF_SOUND:
      event.kind = code == link::NTF_SILENCE ? EventKind::kSilence : EventKind::kSound;
      state = &silent_;
      value = code == link::NTF_SILENCE;
      break;
    case link::NTF_OFFLINE:
    case link::NTF_ONLINE:
      if (argument != link::DEV_CARD && argument != link::DEV_MIXER)
        return std::nullopt;
      event.kind = code == link::NTF_ONLINE ? EventKind::kOnline : EventKind::kOffline;
      event.device = argument == link::DEV_CARD ? Device::kCard : Device::kMixer;
      state = &online_[argument];
      value = code == link::NTF_ONLINE;
      // A sound card that goes away ends what was known about the air.
      if (!value && argument == link::DEV_CARD)
        silent_.reset();
      break;
    default:
      return std::nullopt;
  }
  if (*state == value)
    return std::nullopt;
  *state = value;
  return event;
}

}  // namespace calvora::ctl
