#pragma once
// A program started by a test, with its standard input, output and error on pipes.
#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace calvora::testing {

class ChildProcess {
 public:
  // Starts argv[0] with the given arguments. env entries set variables; an empty value
  // removes the variable.
  explicit ChildProcess(std::vector<std::string> argv,
                        const std::map<std::string, std::string>& env = {});
  ~ChildProcess();  // kills the program if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  void WriteLine(const std::string& line);
  void CloseInput();
  // Reads what is there without waiting; returns the complete lines read so far.
  void Poll();
  const std::vector<std::string>& Lines() const { return lines_; }
  const std::string& Errors() const { return errors_; }
  // The first line that starts with prefix, at or after index from.
  std::optional<std::string> FindLine(const std::string& prefix, std::size_t from = 0) const;
  // Blocks (without running anything else) until such a line arrives; nothing on time-out.
  std::optional<std::string> WaitLine(const std::string& prefix, int timeoutMs);
  void Kill(int signal);
  // Waits for the end; the exit status, or nothing on time-out or death by signal.
  std::optional<int> Wait(int timeoutMs);
  int OutputFd() const { return out_; }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
  bool reaped_ = false;
  std::string partial_;
  std::vector<std::string> lines_;
  std::string errors_;
};

}  // namespace calvora::testing
