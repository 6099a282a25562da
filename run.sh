#!/usr/bin/env bash
# Builds the utility and starts it.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
"$root/scripts/build.sh"
exec "${BUILD_DIR:-$root/build}/src/app/calvora-audio-mixer" "$@"
