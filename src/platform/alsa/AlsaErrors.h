#pragma once
// ALSA's own error lines ("ALSA lib pcm.c:...") all pass through one handler of ours. They are
// silent unless the environment has CALVORA_DEBUG=1, since listing devices makes plugins
// report every server they cannot reach, twice a second while a device is offline. What a
// device that fails to open says is kept, and the failure is reported once on stderr.
#include <string>

namespace calvora::platform::alsa {

// Puts the handler in place; the first call does it, later ones do nothing.
void InstallAlsaErrorHandler();

// Forgets the last ALSA message of this thread, before a call whose reason is wanted.
void ForgetAlsaMessage();

// Reports on stderr that `device` failed to open for `what` ("capture", "mixer"), with ALSA's
// error text and its last message on this thread; once for each reason until it opens again,
// however often the supervision retries it.
void ReportOpenFailure(const std::string& what, const std::string& device, int alsaError);
// The device opened: a later failure is reported again.
void ForgetOpenFailure(const std::string& what, const std::string& device);

}  // namespace calvora::platform::alsa
