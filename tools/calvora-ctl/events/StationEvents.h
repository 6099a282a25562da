#pragma once
// What happened at the station, as calvora-ctl acts on it and logs it: the air fell silent
// or sound came back, a device went offline or came online. The utility repeats some
// notifications (a device's offline one on every check while it stays offline); an event is
// a notification that changes what is known, so a repeat runs no command and logs no line.
// The checks of the received audio add their own faults and their ends: a channel lost, the
// channels in opposite phase, clipping, loudness off target.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "LocalTime.h"

namespace calvora::ctl {

enum class EventKind {
  kSilence,
  kSound,
  kOffline,
  kOnline,
  kChannelLost,
  kChannelBack,
  kPhaseReversed,
  kPhaseNormal,
  kClipping,
  kClippingEnd,
  kLoudnessOff,
  kLoudnessOk
};
constexpr std::size_t kEventKindCount = 12;

// The program and arguments to run for each kind of event, by EventKind; empty for none.
using EventActions = std::array<std::vector<std::string>, kEventKindCount>;
enum class Device { kCard, kMixer };
enum class Channel { kNone, kLeft, kRight };

struct StationEvent {
  EventKind kind = EventKind::kSilence;
  Device device = Device::kCard;  // silence and sound are the sound card's
  Stamp at;                       // the local time it happened
  double left = 0;                // the levels of the last audio block, in dB (NaN: none yet)
  double right = 0;
  // A check's events: the channel concerned (channel-lost, channel-back) and the reading
  // that decided it (the level in dB, the correlation, the runs in the window, the LUFS).
  Channel channel = Channel::kNone;
  double value = 0;
  // The file that keeps the programme around the event (serve --clips), written a little
  // later; empty without clips.
  std::string clip{};
};

const char* EventName(EventKind kind);     // "silence", "sound", "offline", "online", ...
const char* DeviceName(Device device);     // "card", "mixer"
const char* ChannelName(Channel channel);  // "", "left", "right"
// Whether the event comes from a check of the audio rather than from the utility.
bool IsCheckEvent(EventKind kind);
// The air's state in the utility's answer to the verdict question (link::VERDICT_*): silent
// or not, or nothing for any other answer.
std::optional<bool> SilentFromVerdict(int32_t answer);
// The answer in words: "sound", "silence", "not started", "no capture", "no detection"
// or "unknown".
const char* VerdictName(int32_t answer);

// One line for the event log: text or a JSON object.
std::string EventLogLine(const StationEvent& event, bool json);
// A check's reading as the lines and the commands' environment give it: two decimals, or "-".
std::string CheckValueText(double value);

// Turns the utility's notifications into events, remembering the last state of the air and of
// each device.
class EventTracker {
 public:
  // The event a notification (code, argument) makes, or nothing for a repeat, a code that
  // is no event or an unknown device.
  std::optional<StationEvent> Notice(uint16_t code, uint16_t argument);
  // The state of the air as the utility answered when asked: no event, as nothing changed
  // then; the next notification that differs is one.
  void Learn(std::optional<bool> silent) { silent_ = silent; }

  // The state as known: nothing before the first word on it.
  std::optional<bool> Silent() const { return silent_; }
  std::optional<bool> Online(Device device) const { return online_[static_cast<int>(device)]; }

 private:
  std::optional<bool> silent_;
  std::optional<bool> online_[2];
};

}  // namespace calvora::ctl
