#include "StationName.h"

#include <algorithm>

namespace calvora::ctl {

std::string StationNameProblem(std::string_view name) {
  if (name.empty())
    return "the station needs a name";
  const bool control = std::any_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
  });
  return control ? "the station's name holds a control character" : "";
}

}  // namespace calvora::ctl
