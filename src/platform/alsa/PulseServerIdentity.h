#pragma once
// Which program serves the PulseAudio protocol on this desktop. ALSA's "pulse" plugin talks to
// PulseAudio and to PipeWire's pipewire-pulse alike, so the plugin type cannot tell them apart;
// the process on the other end of the server's socket can.
#include <string>

namespace calvora::platform::alsa {

// The server's local socket: the path of a "unix:" PULSE_SERVER, else $PULSE_RUNTIME_PATH/native,
// else $XDG_RUNTIME_DIR/pulse/native (/run/user/<uid>/pulse/native without it). Empty when
// PULSE_SERVER names a server that is not local.
std::string PulseServerSocket();

// The program name (as /proc/<pid>/comm gives it) of the process serving `socketPath`, or empty
// when nothing answers there or the process cannot be seen.
std::string ServingProgram(const std::string& socketPath);

// "PipeWire" when PipeWire serves the PulseAudio protocol, "PulseAudio" otherwise (PulseAudio
// itself, a server that is not local, or none running yet).
std::string PulseServerName();

}  // namespace calvora::platform::alsa
