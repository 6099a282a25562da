#pragma once
// The event log of --log DIR: one line per event in DIR/YYYY-MM-DD.log (the local date of
// the event), text or JSON lines. Each line is written with one write to a file opened for
// appending, so lines of several writers never mix. The file is opened for each event: events
// are rare, and a folder that was removed or a disk that was remounted is found again on the
// next event. A folder that has vanished is made again; a line that cannot be written is
// reported on stderr and the program goes on.
#include <functional>
#include <string>

#include "events/StationEvents.h"

namespace calvora::ctl {

class EventLog {
 public:
  using Report = std::function<void(std::string line)>;

  EventLog(std::string folder, bool json, Report report);

  // Appends the event's line; false (after reporting why) when it could not.
  bool Write(const StationEvent& event);

  std::string PathFor(const std::string& date) const;

 private:
  std::string folder_;
  bool json_;
  Report report_;
  std::string lastProblem_;  // so that the log's recovery is told
};

}  // namespace calvora::ctl
