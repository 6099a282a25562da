#pragma once
#include <string>
#include <vector>

#include "platform/RunKeys.h"

namespace calvora::platform::posix {

// Login programs as XDG autostart desktop entries: an entry "<name>.desktop" whose Exec is
// the command. The user's list is $XDG_CONFIG_HOME/autostart (default ~/.config/autostart);
// the machine's lists are the autostart folders of $XDG_CONFIG_DIRS (default /etc/xdg), less
// the entries the user's folder overrides. A hidden entry (Hidden=true) is a switched-off
// entry: a text that names no program.
class XdgRunKeys : public RunKeys {
 public:
  // Folders taken from the environment.
  XdgRunKeys();
  // Explicit folders, for tests.
  XdgRunKeys(std::string userDir, std::vector<std::string> machineDirs);

  std::optional<std::vector<RunValue>> List(RunScope scope, bool create) override;
  bool Write(std::string_view name, std::string_view text) override;
  bool Remove(std::string_view name) override;

 private:
  std::string userDir_;
  std::vector<std::string> machineDirs_;
};

}  // namespace calvora::platform::posix
