#include "ClipNames.h"

#include <regex>

namespace calvora::ctl {

std::string ClipName(const Stamp& at, EventKind kind) {
  std::string time = at.clock;  // "14:03:07.250": colons are no part of a portable file name
  for (char& c : time)
    if (c == ':')
      c = '-';
  return at.date + "/" + time + "-" + EventName(kind) + ".opus";
}

bool IsClipName(std::string_view path) {
  static const std::regex kClip(
      R"(\d{4}-\d{2}-\d{2}/\d{2}-\d{2}-\d{2}\.\d{3}-[a-z]+(-[a-z]+)*\.opus)");
  return std::regex_match(path.begin(), path.end(), kClip);
}

}  // namespace calvora::ctl
