#pragma once
// The waveIn functions Win32WaveInput calls, as a table: the system's by default, or a
// driver of a test's own that returns blocks when it chooses (real drivers may return them
// after waveInReset has come back; Wine's never do).
// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

namespace calvora::platform::win32 {

struct Win32WaveInDriver {
  decltype(&::waveInGetNumDevs) getNumDevs;
  decltype(&::waveInGetDevCapsW) getDevCaps;
  decltype(&::waveInOpen) open;
  decltype(&::waveInStart) start;
  decltype(&::waveInPrepareHeader) prepareHeader;
  decltype(&::waveInAddBuffer) addBuffer;
  decltype(&::waveInUnprepareHeader) unprepareHeader;
  decltype(&::waveInReset) reset;
  decltype(&::waveInStop) stop;
  decltype(&::waveInClose) close;

  static const Win32WaveInDriver& System() {
    static const Win32WaveInDriver system{&::waveInGetNumDevs,
                                          &::waveInGetDevCapsW,
                                          &::waveInOpen,
                                          &::waveInStart,
                                          &::waveInPrepareHeader,
                                          &::waveInAddBuffer,
                                          &::waveInUnprepareHeader,
                                          &::waveInReset,
                                          &::waveInStop,
                                          &::waveInClose};
    return system;
  }
};

}  // namespace calvora::platform::win32
