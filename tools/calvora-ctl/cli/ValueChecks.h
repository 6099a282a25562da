#pragma once
// The checks of option values that CLI11 runs as it reads the words, for the rules of this
// program that CLI11's own validators do not know. CLI11 tells a refusal as "--option: " and
// the check's text ("needs ..., not "...""). Each check looks at the last value of a repeated
// option only, as only the last one counts.
#include <charconv>
#include <functional>
#include <string>

#include <CLI/CLI.hpp>

#include "monitor/CheckSettings.h"

namespace calvora::ctl {

// The whole text is a decimal number of type T: no hex, no blanks, no "inf" nor "nan".
template <typename T>
bool ParseNumber(const std::string& text, T& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && !text.empty();
}

// A check on the last value of an option: `takes` says yes, or the refusal reads
// "needs <needs>, not "<text>"".
CLI::Validator ValueCheck(std::string needs, std::function<bool(const std::string&)> takes);

// A CLI11 validator made to look at the last value only.
CLI::Validator LastValue(CLI::Validator validator);

// The value is a decimal number of type T, as ParseNumber reads it, that `fits` takes.
template <typename T>
CLI::Validator NumberCheck(
    std::string needs, std::function<bool(T)> fits = [](T) { return true; }) {
  return ValueCheck(std::move(needs), [fits = std::move(fits)](const std::string& text) {
    T value{};
    return ParseNumber(text, value) && fits(value);
  });
}

// A number from low to high; a NaN is none of them.
template <typename T>
CLI::Validator NumberFrom(T low, T high, std::string needs) {
  return NumberCheck<T>(std::move(needs),
                        [low, high](T value) { return value >= low && value <= high; });
}

// --checks: a comma-separated list of channel, phase, clipping, loudness, or all or none.
bool ParseCheckList(const std::string& text, CheckSettings& checks);
CLI::Validator CheckListCheck();

// --listen: an address ParseListenAddress takes.
CLI::Validator ListenAddressCheck();

// --station: a name StationNameProblem finds nothing wrong with.
CLI::Validator StationNameCheck();

}  // namespace calvora::ctl
