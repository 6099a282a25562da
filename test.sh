#!/usr/bin/env bash
# Builds the project and runs every test through CTest; then, where Wine and the cross
# compiler are installed (scripts/install-deps.sh installs them), the Windows build's tests
# under Wine (scripts/test-windows.sh). CALVORA_WINDOWS_TESTS=0 leaves those out.
# Arguments go to both ctest runs. CALVORA_PIPEWIRE_ALSA=1 runs the Linux tests as on a desktop
# with PipeWire's ALSA configuration (ALSA's default device and mixer are PipeWire's), unpacked
# privately by scripts/pipewire-alsa.sh instead of installed.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
status=0
test_home=$HOME
if [ "${CALVORA_PIPEWIRE_ALSA:-0}" = 1 ]; then
  test_home=$("$root/scripts/pipewire-alsa.sh" "$build/pipewire-alsa")
  echo "test.sh: with PipeWire's ALSA configuration ($test_home/.asoundrc)"
fi
(cd "$build" && HOME=$test_home QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "${JOBS:-2}" --timeout 300 "$@") ||
  status=$?
if [ "${CALVORA_WINDOWS_TESTS:-1}" != 0 ] && command -v wine >/dev/null &&
   command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  echo "test.sh: the Windows build under Wine"
  BUILD_DIR=${WINDOWS_BUILD_DIR:-$root/build-windows} LINUX_BUILD_DIR=$build \
    "$root/scripts/test-windows.sh" "$@" || status=$?
fi
exit "$status"
