#!/usr/bin/env bash
# Builds the Windows executables (scripts/build-windows.sh) and runs their tests under Wine,
# in a Wine prefix of the build's own so the user's ~/.wine is never touched.
# Extra arguments go to ctest, e.g. -R unit-win32.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-windows}
BUILD_DIR=$build "$root/scripts/build-windows.sh"

export WINEPREFIX=$build/wine-prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
# One Wine server for the whole run: every test program then starts in a fraction of a second.
# The first start of a new prefix sets it up, which takes a while.
wineserver --persistent=60 2>/dev/null || true  # or the one already serving this prefix
trap 'wineserver --kill 2>/dev/null || true' EXIT
wineboot --init >/dev/null 2>&1
cd "$build"
ctest -j "${JOBS:-2}" --output-on-failure --timeout 120 "$@"
