#include "platform/alsa/AlsaResult.h"

#include <cerrno>

namespace calvora::platform::alsa {

Result FromAlsaError(int alsaError) {
  if (alsaError >= 0)
    return result::kOk;
  switch (-alsaError) {
    case ENOENT:
    case ENXIO:
      return result::kBadDeviceId;
    case ENODEV:
    case ESHUTDOWN:
      return result::kNoDriver;
    case EBUSY:
    case EAGAIN:
      return result::kAllocated;
    case EACCES:
    case EPERM:
      return result::kNotEnabled;
    case ENOMEM:
      return result::kNoMemory;
    case EINVAL:
      return result::kInvalidParam;
    case EBADFD:
      return result::kInvalidHandle;
    case ENOSYS:
    case EOPNOTSUPP:
      return result::kNotSupported;
    default:
      return result::kError;
  }
}

Result FailureFromAlsaError(int alsaError) {
  const Result code = FromAlsaError(alsaError);
  return code == result::kOk ? result::kError : code;
}

}  // namespace calvora::platform::alsa
