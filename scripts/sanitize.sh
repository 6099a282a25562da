#!/usr/bin/env bash
# Builds the project with AddressSanitizer and UndefinedBehaviorSanitizer into ./build-sanitize
# (or $SANITIZE_BUILD_DIR) and runs the whole test suite there; any report fails its test.
# Arguments go to ctest (for example -R reliability).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SANITIZE_BUILD_DIR:-$root/build-sanitize}
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCALVORA_SANITIZE=ON \
  >/dev/null
cmake --build "$build" -j "${JOBS:-2}"
# Leaks inside the system's libraries (fonts, the bus library, ALSA's configuration) are theirs.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/scripts/lsan-system-libraries.supp:print_suppressions=0
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "${JOBS:-2}" --timeout 600 "$@"
