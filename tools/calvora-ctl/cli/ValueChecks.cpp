#include "ValueChecks.h"

#include <algorithm>

#include "StationName.h"
#include "http/ListenAddress.h"

namespace calvora::ctl {

CLI::Validator LastValue(CLI::Validator validator) {
  // Of a repeated option CLI11 numbers the last value 0 and the earlier ones below 0.
  validator.application_index(0);
  return validator;
}

CLI::Validator ValueCheck(std::string needs, std::function<bool(const std::string&)> takes) {
  return LastValue(CLI::Validator(
      [needs = std::move(needs), takes = std::move(takes)](std::string& text) {
        if (takes(text))
          return std::string();
        return "needs " + needs + ", not \"" + text + "\"";
      },
      std::string()));
}

bool ParseCheckList(const std::string& text, CheckSettings& checks) {
  checks.channel = checks.phase = checks.clipping = checks.loudness = false;
  if (text == "none")
    return true;
  if (text == "all") {
    checks.channel = checks.phase = checks.clipping = checks.loudness = true;
    return true;
  }
  std::size_t from = 0;
  while (from <= text.size()) {
    const std::size_t comma = std::min(text.find(',', from), text.size());
    const std::string name = text.substr(from, comma - from);
    bool* flag = name == "channel"    ? &checks.channel
                 : name == "phase"    ? &checks.phase
                 : name == "clipping" ? &checks.clipping
                 : name == "loudness" ? &checks.loudness
                                      : nullptr;
    if (!flag)
      return false;
    *flag = true;
    from = comma + 1;
  }
  return true;
}

CLI::Validator CheckListCheck() {
  return ValueCheck("all, none, or some of channel,phase,clipping,loudness",
                    [](const std::string& list) {
                      CheckSettings unused;
                      return ParseCheckList(list, unused);
                    });
}

CLI::Validator ListenAddressCheck() {
  return ValueCheck("HOST:PORT (for example 127.0.0.1:9794)", [](const std::string& text) {
    std::string unused;
    return ParseListenAddress(text, unused).has_value();
  });
}

CLI::Validator StationNameCheck() {
  return LastValue(
      CLI::Validator([](std::string& name) { return StationNameProblem(name); }, std::string()));
}

}  // namespace calvora::ctl
