#!/usr/bin/env bash
# Cross-builds the Windows executables with Debian's mingw-w64 into ./build-windows (or
# $BUILD_DIR), with the installer calvora-audio-mixer-<version>-setup.exe (NSIS) and the
# portable calvora-audio-mixer-<version>-windows.zip beside them. Installs what the cross build
# needs when it is missing (scripts/install-deps.sh windows); the Linux build needs none of it.
# The first run in a build folder also cross-builds libebur128, libmicrohttpd, yaml-cpp,
# libxcrypt, opus and libopusenc from Debian's sources (scripts/windows-libraries.sh, two to
# three minutes); later runs reuse them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-windows}

"$root/scripts/install-deps.sh" windows
"$root/scripts/windows-libraries.sh" "$build"

cmake -S "$root" -B "$build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64.cmake" \
      -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$build" -j "${JOBS:-2}"
