#pragma once
// One run of a station's command, to its end: the program started with the event's entries
// put over this program's environment and nothing on its input; its output (stdout and
// stderr together) reported line by line, then how it ended, each line led by the name of
// the option that gave it ("on-silence"). A helper that the command leaves running in the
// background may keep the output open: the command's own end is what counts.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace calvora::ctl {

using CommandReport = std::function<void(std::string line)>;

void RunCommandToItsEnd(const std::string& name, const std::vector<std::string>& argv,
                        const std::vector<std::string>& environment, const CommandReport& report);

// The entries ("NAME=value") of current with those of added put over the ones of the same
// name, and added after them. Windows compares the names without case.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& current,
                                           const std::vector<std::string>& added, bool ignoreCase);

// A command's output cut into lines for the report. A chatty command costs no more than
// kMaxLines lines of at most kMaxLineBytes each per run; the lines left out are counted.
class CommandOutput {
 public:
  static constexpr int kMaxLines = 200;
  static constexpr std::size_t kMaxLineBytes = 1000;

  CommandOutput(const std::string& name, const std::string& program, const CommandReport& report);

  void Add(const char* bytes, std::size_t count);
  // Reports the unfinished last line and how many lines were left out.
  void Finish();

 private:
  void Emit(std::string line);

  const std::string name_;
  const std::string lead_;  // "on-silence: program: "
  const CommandReport& report_;
  std::string pending_;
  int lines_ = 0;
  int leftOut_ = 0;
};

}  // namespace calvora::ctl
