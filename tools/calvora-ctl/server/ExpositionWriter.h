#pragma once
// The Prometheus text exposition as serve writes it: each metric's HELP and TYPE, then its
// samples. With a station's name every sample carries station="NAME" as its first label,
// added here as the sample is written.
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace calvora::ctl {

// One sample: its value, and at most one label of its own (channel, device, event).
struct ExpositionSample {
  ExpositionSample(double number) : value(number) {}  // implicit: a plain number is a sample
  ExpositionSample(std::string_view label, std::string_view labelIs, double number)
      : labelName(label), labelValue(labelIs), value(number) {}

  std::string_view labelName;
  std::string_view labelValue;
  double value;
};

class ExpositionWriter {
 public:
  // Without a station's name (empty) the samples carry no station label.
  explicit ExpositionWriter(std::string_view station);

  void Add(std::string_view name, std::string_view type, std::string_view help,
           std::span<const ExpositionSample> samples);
  void Add(std::string_view name, std::string_view type, std::string_view help,
           std::initializer_list<ExpositionSample> samples) {
    Add(name, type, help, std::span(samples.begin(), samples.size()));
  }

  const std::string& Text() const { return text_; }

 private:
  std::string stationLabel_;  // station="NAME" escaped, or empty
  std::string text_;
};

// A number as the text format writes it (NaN, +Inf, -Inf; whole numbers without a fraction).
std::string ExpositionNumber(double value);

}  // namespace calvora::ctl
