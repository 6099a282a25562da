#include "EventLog.h"

#include "system/LogFile.h"

namespace calvora::ctl {

EventLog::EventLog(std::string folder, bool json, Report report)
    : folder_(std::move(folder)), json_(json), report_(std::move(report)) {
  while (folder_.size() > 1 && folder_.back() == '/')
    folder_.pop_back();
}

std::string EventLog::PathFor(const std::string& date) const {
  return folder_ + "/" + date + ".log";
}

bool EventLog::Write(const StationEvent& event) {
  const std::string path = PathFor(event.at.date);
  const std::string line = EventLogLine(event, json_) + "\n";
  const AppendFailure failure = AppendToLogFile(folder_, path, line);
  std::string problem;
  if (failure.step == AppendFailure::kOpen)
    problem = "cannot open the event log " + path + ": " + failure.reason;
  else if (failure.step == AppendFailure::kWrite)
    problem = "cannot write the event log " + path + ": " + failure.reason;
  if (problem.empty()) {
    if (!lastProblem_.empty())
      report_("the event log " + path + " works again");
    lastProblem_.clear();
    return true;
  }
  // Every lost line is told, so that the event itself is not lost.
  report_(problem + "; the event: " + EventLogLine(event, false));
  lastProblem_ = problem;
  return false;
}

}  // namespace calvora::ctl
