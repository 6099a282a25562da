#pragma once
// Result codes of the platform seams: 0 for success, a non-zero code otherwise. The values
// follow the multimedia error numbers that controlling programs and logs already know.
#include <cstdint>

namespace calvora::platform {

using Result = int32_t;

namespace result {
constexpr Result kOk = 0;
constexpr Result kError = 1;          // unspecified failure
constexpr Result kBadDeviceId = 2;    // no such device (index out of range, or gone)
constexpr Result kNotEnabled = 3;     // the device refused to open; the desktop has no bus
constexpr Result kAllocated = 4;      // the device is busy
constexpr Result kInvalidHandle = 5;  // the handle is closed or was never opened
constexpr Result kNoDriver = 6;       // the device vanished while in use
constexpr Result kNoMemory = 7;
constexpr Result kNotSupported = 8;
constexpr Result kInvalidParam = 11;
constexpr Result kBadFormat = 32;     // the sample format is not supported
constexpr Result kStillPlaying = 33;  // a block is still queued with the device
constexpr Result kUnprepared = 34;    // a block was not prepared
constexpr Result kTimeout = 258;      // a peer did not answer in time
}  // namespace result

}  // namespace calvora::platform
