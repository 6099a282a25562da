#include "EventLines.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string_view>
#include <vector>

#include "EventFields.h"
#include "JsonValues.h"
#include "link/WinMSG.h"

namespace calvora::ctl {

namespace {

__attribute__((format(gnu_printf, 1, 2))) std::string Format(const char* format, ...) {
  char buffer[512];
  va_list values;
  va_start(values, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, values);
  va_end(values);
  return n < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(std::min(n, 511)));
}

}  // namespace

std::string CodeName(uint16_t code) {
  switch (code) {
    case link::WINMSG_CONTROL:
      return "WINMSG_CONTROL";
    case link::CMD_RUN:
      return "CMD_RUN";
    case link::CMD_STOP:
      return "CMD_STOP";
    case link::CMD_UNMUTE:
      return "CMD_UNMUTE";
    case link::CMD_MUTE:
      return "CMD_MUTE";
    case link::CMD_VERDICT:
      return "CMD_VERDICT";
    case link::NTF_SILENCE:
      return "NTF_SILENCE";
    case link::NTF_SOUND:
      return "NTF_SOUND";
    case link::NTF_OFFLINE:
      return "NTF_OFFLINE";
    case link::NTF_ONLINE:
      return "NTF_ONLINE";
    default:
      return Format("0x%04X", static_cast<unsigned>(code));
  }
}

std::string NotificationLine(const Stamp& at, uint32_t from, uint16_t code, uint16_t argument,
                             bool json) {
  if (json)
    return Json{{"time", at.iso}, {"from", from}, {"code", CodeName(code)}, {"argument", argument}}
        .dump();
  return at.clock + " " + CodeName(code) + " " + std::to_string(argument);
}

std::string DataLine(const Stamp& at, uint32_t from, uint32_t kind, std::span<const uint8_t> bytes,
                     bool json) {
  const auto header = link::AudioBlockHeader::Read(bytes);
  if (kind != 0 || !header) {
    if (json) {
      return Json{{"time", at.iso},
                  {"from", from},
                  {"code", "DATA"},
                  {"kind", kind},
                  {"size", bytes.size()}}
          .dump();
    }
    return Format("%s DATA kind=%u size=%zu (not an audio block)", at.clock.c_str(), kind,
                  bytes.size());
  }
  const std::size_t samples = bytes.size() - link::AudioBlockHeader::kSize;
  if (json) {
    return Json{{"time", at.iso},
                {"from", from},
                {"code", "AUDIO"},
                {"kind", 0},
                {"size", bytes.size()},
                {"rate", header->SampleRate},
                {"channels", header->Channels},
                {"bits", header->BitsPerSample},
                {"left", JsonNumber(header->LeftLevel)},
                {"right", JsonNumber(header->RightLevel)},
                {"bytes", samples}}
        .dump();
  }
  return Format("%s AUDIO rate=%d channels=%u bits=%u left=%.2f right=%.2f bytes=%zu",
                at.clock.c_str(), header->SampleRate, static_cast<unsigned>(header->Channels),
                static_cast<unsigned>(header->BitsPerSample), header->LeftLevel, header->RightLevel,
                samples);
}

std::string CheckEventLine(const StationEvent& event, bool json) {
  // A check's line names what it found: the event, the channel where there is one, the reading.
  std::vector<EventField> found;
  for (EventField& field : EventFields(event)) {
    const std::string_view name = field.name;
    if (name == "event" || name == "channel" || name == "value")
      found.push_back(std::move(field));
  }
  if (json) {
    Json line{{"time", event.at.iso}, {"code", "EVENT"}};
    for (const EventField& field : found)
      line[field.name] = field.number ? JsonNumber(*field.number) : Json(field.text);
    return line.dump();
  }
  std::string line = event.at.clock + " EVENT";
  for (const EventField& field : found)
    line += " " + FieldText(field);
  return line;
}

std::string SentLine(const Stamp& at, uint16_t code, uint16_t argument, int32_t answer, bool json) {
  // The verdict question's answer is the point of it: said in words.
  const bool verdict = code == link::CMD_VERDICT;
  if (json) {
    Json line{
        {"time", at.iso}, {"sent", CodeName(code)}, {"argument", argument}, {"answer", answer}};
    if (verdict)
      line["verdict"] = VerdictName(answer);
    return line.dump();
  }
  return at.clock + " sent " + CodeName(code) + " " + std::to_string(argument) +
         (verdict ? std::string(" verdict=") + VerdictName(answer) : std::string());
}

}  // namespace calvora::ctl
