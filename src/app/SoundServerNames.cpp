#include "app/SoundServerNames.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace calvora::app {

namespace {

constexpr std::string_view kServers[] = {"PipeWire", "PulseAudio"};

char Folded(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool Same(std::string_view a, std::string_view b, LetterCase letterCase) {
  if (letterCase == LetterCase::kMatters)
    return a == b;
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return Folded(x) == Folded(y); });
}

// What follows a leading server name ("" for the mixer, " Sound Server" for capture), or
// nothing when the name does not begin with one as a word.
std::optional<std::string_view> AfterServer(std::string_view name, LetterCase letterCase) {
  for (std::string_view server : kServers)
    if (name.size() >= server.size() && Same(name.substr(0, server.size()), server, letterCase) &&
        (name.size() == server.size() || name[server.size()] == ' '))
      return name.substr(server.size());
  return std::nullopt;
}

}  // namespace

bool SameSoundServerDevice(const std::string& stored, const std::string& listed,
                           LetterCase letterCase) {
  const auto storedRest = AfterServer(stored, letterCase);
  const auto listedRest = AfterServer(listed, letterCase);
  return storedRest && listedRest && Same(*storedRest, *listedRest, letterCase);
}

}  // namespace calvora::app
