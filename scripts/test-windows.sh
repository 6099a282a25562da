#!/usr/bin/env bash
# Builds the Windows executables (scripts/build-windows.sh) and runs their tests under Wine,
# in a Wine prefix of the build's own so the user's ~/.wine is never touched.
# The capture and mixer tests use the virtual sound card of the Linux build ($LINUX_BUILD_DIR,
# default ./build, built by scripts/build.sh) as ALSA's default device; without it they are
# left out. Extra arguments go to ctest, e.g. -R unit-win32.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-windows}
BUILD_DIR=$build "$root/scripts/build-windows.sh"

# Windows need a display: a virtual one when there is none.
if [ -z "${DISPLAY:-}" ]; then
  command -v xvfb-run >/dev/null || "$root/scripts/install-deps.sh" display
  # True colour, as a desktop has it: the tests read colours off the screen.
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

card=${LINUX_BUILD_DIR:-$root/build}/virtual-card/virtual-card.conf
if [ -f "$card" ]; then
  cmake "$build" -DCALVORA_VIRTUAL_CARD_CONF="$card" >/dev/null
else
  echo "test-windows.sh: no virtual card at $card; the capture and mixer tests are left out" >&2
  cmake "$build" -DCALVORA_VIRTUAL_CARD_CONF= >/dev/null
fi
cmake --build "$build" -j "${JOBS:-2}"

export WINEPREFIX=$build/wine-prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
# No .NET or HTML engine: nothing here needs them, and a new prefix would offer to fetch them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# One Wine server for the whole run: every test program then starts in a fraction of a second.
# The first start of a new prefix sets it up, which takes a while.
wineserver --persistent=60 2>/dev/null || true  # or the one already serving this prefix
trap 'wineserver --kill 2>/dev/null || true' EXIT
wineboot --init >/dev/null 2>&1
# Wine's desktop ends a second after its last program and a program started then waits seconds
# for its windows; on Windows the shell holds the desktop. A program of ours holds it here.
wine "$build/tests/support/hold-desktop.exe" >/dev/null 2>&1 &
cd "$build"
ctest -j "${JOBS:-2}" --output-on-failure --timeout 120 "$@"
