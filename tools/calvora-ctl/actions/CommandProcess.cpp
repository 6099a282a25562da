#include "CommandProcess.h"

#include <algorithm>
#include <string_view>

#include "platform/AsciiText.h"

namespace calvora::ctl {

namespace {

bool SameName(std::string_view a, std::string_view b, bool ignoreCase) {
  if (!ignoreCase)
    return a == b;
  return platform::EqualsIgnoringAsciiCase(a, b);
}

std::string_view NameOf(std::string_view entry) {
  // Windows keeps entries such as "=C:=C:\work" whose name starts with '='.
  return entry.substr(0, entry.find('=', 1));
}

}  // namespace

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& current,
                                           const std::vector<std::string>& added, bool ignoreCase) {
  std::vector<std::string> merged;
  for (const std::string& entry : current) {
    const bool replaced = std::any_of(added.begin(), added.end(), [&](const std::string& a) {
      return SameName(NameOf(a), NameOf(entry), ignoreCase);
    });
    if (!replaced)
      merged.push_back(entry);
  }
  merged.insert(merged.end(), added.begin(), added.end());
  return merged;
}

CommandOutput::CommandOutput(const std::string& name, const std::string& program,
                             const CommandReport& report)
    : name_(name), lead_(name + ": " + program + ": "), report_(report) {}

void CommandOutput::Add(const char* bytes, std::size_t count) {
  pending_.append(bytes, count);
  for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
    std::string line = pending_.substr(0, end);
    if (!line.empty() && line.back() == '\r')  // Windows programs end lines so
      line.pop_back();
    Emit(std::move(line));
    pending_.erase(0, end + 1);
  }
  if (pending_.size() > kMaxLineBytes) {
    Emit(pending_);
    pending_.clear();
  }
}

void CommandOutput::Finish() {
  if (!pending_.empty())
    Emit(pending_);
  pending_.clear();
  if (leftOut_ > 0)
    report_(name_ + ": " + std::to_string(leftOut_) + " more lines of output left out");
}

void CommandOutput::Emit(std::string line) {
  if (lines_++ < kMaxLines) {
    if (line.size() > kMaxLineBytes)
      line.resize(kMaxLineBytes);
    report_(lead_ + line);
  } else {
    ++leftOut_;
  }
}

}  // namespace calvora::ctl
