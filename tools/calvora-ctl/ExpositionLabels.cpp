#include "ExpositionLabels.h"

#include <algorithm>

namespace calvora::ctl {

namespace {

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

std::string AddLabelToEverySample(std::string_view exposition, std::string_view name,
                                  std::string_view value) {
  const std::string label = std::string(name) + "=\"" + EscapedLabelValue(value) + "\"";
  std::string out;
  out.reserve(exposition.size() + exposition.size() / 4);
  while (!exposition.empty()) {
    const std::size_t end = exposition.find('\n');
    const std::string_view line =
        exposition.substr(0, end == std::string_view::npos ? exposition.size() : end + 1);
    exposition.remove_prefix(line.size());
    // A metric name holds neither '{' nor ' ': the first of them ends it.
    const std::size_t nameEnd = line.find_first_of("{ ");
    if (line.empty() || line[0] == '#' || line[0] == '\n' || nameEnd == std::string_view::npos) {
      out += line;
      continue;
    }
    out += line.substr(0, nameEnd);
    if (line[nameEnd] == '{') {
      const bool noOtherLabels = line.size() > nameEnd + 1 && line[nameEnd + 1] == '}';
      out += "{" + label + (noOtherLabels ? "" : ",");
      out += line.substr(nameEnd + 1);
    } else {
      out += "{" + label + "}";
      out += line.substr(nameEnd);
    }
  }
  return out;
}

std::string StationNameProblem(std::string_view name) {
  if (name.empty())
    return "the station needs a name";
  const bool control = std::any_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
  });
  return control ? "the station's name holds a control character" : "";
}

}  // namespace calvora::ctl
