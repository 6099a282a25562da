#pragma once
// The one place where ALSA's negative error numbers become the seams' result codes.
#include "platform/Result.h"

namespace calvora::platform::alsa {

Result FromAlsaError(int alsaError);

// The code of a call that failed: never success, whatever ALSA's number was.
Result FailureFromAlsaError(int alsaError);

}  // namespace calvora::platform::alsa
