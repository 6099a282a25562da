#pragma once
// Where an event's clip lives under the clips folder: "2026-12-07/14-03-07.250-silence.opus",
// the day's folder and the event's local time and name, so that names sort oldest first and
// say what they hold. Only names of this form are served and pruned.
#include <string>
#include <string_view>

#include "events/StationEvents.h"

namespace calvora::ctl {

// The clip's path under the folder, from the event's time and kind.
std::string ClipName(const Stamp& at, EventKind kind);
// Whether a path under the folder is a clip's name: no other file, and nothing outside the
// folder ("..", absolute paths, other extensions), is ever served or removed.
bool IsClipName(std::string_view path);
// The hidden name a clip is written under before it is renamed into place
// ("2026-12-07/.14-03-07.250-silence.opus.tmp"), and whether a path is one: the only other
// files the pruning removes.
std::string ClipTemporaryName(const std::string& clip);
bool IsClipTemporaryName(std::string_view path);
// Whether a name in the folder is a day's folder ("2026-12-07"): the only folders gone into.
bool IsClipDayName(std::string_view name);

}  // namespace calvora::ctl
