#pragma once
// The text of calvora-ctl --help, one whole text for each system: the Linux build reaches the
// utility over the session bus and serves metrics, the Windows build uses window messages.

namespace calvora::ctl {

// The text of --help.
const char* UsageText();

}  // namespace calvora::ctl
