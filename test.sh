#!/usr/bin/env bash
# Builds the project and runs every test through CTest.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
"$root/scripts/build.sh"
cd "${BUILD_DIR:-$root/build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "${JOBS:-2}" --timeout 300 "$@"
