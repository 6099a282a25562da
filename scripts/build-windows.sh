#!/usr/bin/env bash
# Cross-builds the Windows executables with Debian's mingw-w64 into ./build-windows (or
# $BUILD_DIR), with the installer calvora-audio-mixer-<version>-setup.exe (NSIS) and the
# portable calvora-audio-mixer-<version>-windows.zip beside them. Installs the cross compiler, GoogleTest's sources and Wine (to run the tests)
# when they are missing; the Linux build does not need any of them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-windows}

needed=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || needed+=(mingw-w64)
[ -f /usr/src/googletest/CMakeLists.txt ] || needed+=(googletest)
command -v wine >/dev/null || needed+=(wine wine64)
command -v ninja >/dev/null || needed+=(ninja-build)
command -v cmake >/dev/null || needed+=(cmake)
# The installer.
command -v makensis >/dev/null || needed+=(nsis)
# calvora-ctl.exe uses these header-only libraries straight from their packages.
[ -f /usr/include/CLI/CLI.hpp ] || needed+=(libcli11-dev)
[ -f /usr/include/nlohmann/json.hpp ] || needed+=(nlohmann-json3-dev)
if [ ${#needed[@]} -gt 0 ]; then
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y --no-install-recommends "${needed[@]}"
fi

cmake -S "$root" -B "$build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64.cmake" \
      -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$build" -j "${JOBS:-2}"
