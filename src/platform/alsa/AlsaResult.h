#pragma once
// The one place where ALSA's negative error numbers become the seams' result codes.
#include "platform/Result.h"

namespace calvora::platform::alsa {

Result FromAlsaError(int alsaError);

}  // namespace calvora::platform::alsa
