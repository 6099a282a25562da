#include "ExpositionWriter.h"

#include <cmath>
#include <cstdio>

namespace calvora::ctl {

namespace {

// A label value escaped as the text format asks: \\, \" and \n.
std::string EscapedLabelValue(std::string_view value) {
  std::string escaped;
  for (char c : value)
    if (c == '\\')
      escaped += "\\\\";
    else if (c == '"')
      escaped += "\\\"";
    else if (c == '\n')
      escaped += "\\n";
    else
      escaped += c;
  return escaped;
}

}  // namespace

std::string ExpositionNumber(double value) {
  if (std::isnan(value))
    return "NaN";
  if (std::isinf(value))
    return value > 0 ? "+Inf" : "-Inf";
  char text[32];
  const bool whole = value == std::round(value) && std::fabs(value) < 1e15;
  std::snprintf(text, sizeof text, whole ? "%.0f" : "%.6f", value);
  return text;
}

ExpositionWriter::ExpositionWriter(std::string_view station) {
  if (!station.empty())
    stationLabel_ = "station=\"" + EscapedLabelValue(station) + "\"";
}

void ExpositionWriter::Add(std::string_view name, std::string_view type, std::string_view help,
                           std::span<const ExpositionSample> samples) {
  text_.append("# HELP ").append(name).append(" ").append(help).append("\n");
  text_.append("# TYPE ").append(name).append(" ").append(type).append("\n");
  for (const ExpositionSample& sample : samples) {
    text_.append(name);
    std::string labels = stationLabel_;
    if (!sample.labelName.empty()) {
      labels += labels.empty() ? "" : ",";
      labels.append(sample.labelName).append("=\"");
      labels += EscapedLabelValue(sample.labelValue) + "\"";
    }
    if (!labels.empty())
      text_ += "{" + labels + "}";
    text_ += " " + ExpositionNumber(sample.value) + "\n";
  }
}

}  // namespace calvora::ctl
