#!/usr/bin/env bash
# Builds the utility and starts it. On a machine without a display the window is drawn
# offscreen; on a machine without a sound card the virtual sound card stands in.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display; drawing the window offscreen" >&2
  export QT_QPA_PLATFORM=offscreen
fi
if ! grep -q '^ *[0-9]' /proc/asound/cards 2>/dev/null && [ -z "${ALSA_CONFIG_PATH:-}" ]; then
  echo "run.sh: no sound card; using the virtual sound card" >&2
  export ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$build/virtual-card/virtual-card.conf"
fi
exec "$build/src/app/calvora-audio-mixer" "$@"
