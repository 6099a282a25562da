#pragma once
// Whether a JACK server runs for this user. ALSA's "jack" capture device is declared by the
// desktop's plugin package whether or not JACK is in use, and opening it without a server makes
// JACK's client library print its failure on stderr (five lines each time). The device is only
// listed, and so only opened, while a server is there to answer.
#include <string>
#include <vector>

namespace calvora::platform::alsa {

// The places a running JACK server is seen by: JACK 2's server socket
// (/dev/shm/jack_<name>_<uid>_0), JACK 1's (/dev/shm/jack-<uid>/<name>/jack_0), and, where
// PipeWire's JACK library stands in for JACK's (its ld.so configuration is installed),
// PipeWire's socket. <name> is $JACK_DEFAULT_SERVER, else "default".
std::vector<std::string> JackServerSockets();

// True when one of those exists.
bool JackServerRuns();

}  // namespace calvora::platform::alsa
