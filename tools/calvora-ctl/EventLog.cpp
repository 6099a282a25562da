#include "EventLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace calvora::ctl {

namespace {

// Makes the folder and the folders above it that are missing.
void MakeFolders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1))
    mkdir(path.substr(0, slash).c_str(), 0755);
  mkdir(path.c_str(), 0755);
}

}  // namespace

EventLog::EventLog(std::string folder, bool json, Report report)
    : folder_(std::move(folder)), json_(json), report_(std::move(report)) {
  while (folder_.size() > 1 && folder_.back() == '/')
    folder_.pop_back();
}

std::string EventLog::PathFor(const std::string& date) const {
  return folder_ + "/" + date + ".log";
}

bool EventLog::Write(const StationEvent& event) {
  const std::string path = PathFor(event.date);
  const std::string line = EventLogLine(event, json_) + "\n";
  const int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY;
  int fd = open(path.c_str(), flags, 0644);
  if (fd < 0 && errno == ENOENT) {
    MakeFolders(folder_);
    fd = open(path.c_str(), flags, 0644);
  }
  std::string problem;
  if (fd < 0) {
    problem = "cannot open the event log " + path + ": " + std::strerror(errno);
  } else {
    const ssize_t n = write(fd, line.data(), line.size());
    if (n != static_cast<ssize_t>(line.size()))
      problem = "cannot write the event log " + path + ": " +
                (n < 0 ? std::strerror(errno) : "the disk is full");
    if (close(fd) != 0 && problem.empty())
      problem = "cannot write the event log " + path + ": " + std::strerror(errno);
  }
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
