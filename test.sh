#!/usr/bin/env bash
# Builds the project and runs every test through CTest; then, where Wine and the cross
# compiler are installed (scripts/install-deps.sh installs them), the Windows build's tests
# under Wine (scripts/test-windows.sh). CALVORA_WINDOWS_TESTS=0 leaves those out.
# Arguments go to both ctest runs.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
status=0
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "${JOBS:-2}" --timeout 300 "$@") ||
  status=$?
if [ "${CALVORA_WINDOWS_TESTS:-1}" != 0 ] && command -v wine >/dev/null &&
   command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  echo "test.sh: the Windows build under Wine"
  BUILD_DIR=${WINDOWS_BUILD_DIR:-$root/build-windows} LINUX_BUILD_DIR=$build \
    "$root/scripts/test-windows.sh" "$@" || status=$?
fi
exit "$status"
