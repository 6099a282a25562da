#pragma once
// The lists of programs started when the user logs in: the user's own list, which the
// program may change, and the machine's list, which it only reads.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace calvora::platform {

enum class RunScope { CurrentUser, LocalMachine };

struct RunValue {
  std::string Name;
  bool IsText = true;  // false when the entry's data cannot be read as a command text
  std::string Text;    // the command: the program's full path
};

class RunKeys {
 public:
  virtual ~RunKeys() = default;

  // The entries of the scope's list in the order the list keeps them, or nothing when the list
  // cannot be opened. With create, a missing user list is created first.
  virtual std::optional<std::vector<RunValue>> List(RunScope scope, bool create) = 0;

  // Writes or replaces the user's entry of this name; false when it cannot be written.
  virtual bool Write(std::string_view name, std::string_view text) = 0;

  // Removes the user's entry of this name; false when it cannot be removed.
  virtual bool Remove(std::string_view name) = 0;

  // True where two names that differ only in letter case name the same entry.
  virtual bool NamesIgnoreCase() const { return false; }
};

}  // namespace calvora::platform
