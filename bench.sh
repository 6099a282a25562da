#!/usr/bin/env bash
# Builds the project and runs every benchmark, printing its figures.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
"$root/scripts/build.sh"
build=${BUILD_DIR:-$root/build}
for b in "$build"/bench/*/bench-*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b"
done
