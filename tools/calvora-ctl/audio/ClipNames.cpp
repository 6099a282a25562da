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

std::string ClipTemporaryName(const std::string& clip) {
  const std::size_t slash = clip.rfind('/');
  const std::size_t file = slash == std::string::npos ? 0 : slash + 1;
  return clip.substr(0, file) + "." + clip.substr(file) + ".tmp";
}

bool IsClipName(std::string_view path) {
  static const std::regex kClip(
      R"(\d{4}-\d{2}-\d{2}/\d{2}-\d{2}-\d{2}\.\d{3}-[a-z]+(-[a-z]+)*\.opus)");
  return std::regex_match(path.begin(), path.end(), kClip);
}

bool IsClipTemporaryName(std::string_view path) {
  const std::size_t slash = path.find('/');
  if (slash == std::string_view::npos || path.substr(slash + 1, 1) != "." ||
      path.size() < slash + 6 || path.substr(path.size() - 4) != ".tmp")
    return false;
  std::string clip(path.substr(0, slash + 1));
  clip += path.substr(slash + 2, path.size() - slash - 6);
  return IsClipName(clip);
}

bool IsClipDayName(std::string_view name) {
  static const std::regex kDay(R"(\d{4}-\d{2}-\d{2})");
  return std::regex_match(name.begin(), name.end(), kDay);
}

}  // namespace calvora::ctl
