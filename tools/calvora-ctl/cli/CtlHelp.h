#pragma once
// The text of calvora-ctl --help, one for each system with the sections they share
// (CtlHelpSections.h): the Linux build reaches the utility over the session bus, the Windows
// build uses window messages.

namespace calvora::ctl {

// The text of --help.
const char* UsageText();

}  // namespace calvora::ctl
