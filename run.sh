#!/usr/bin/env bash
# Builds the utility and starts it with the user's own settings. With --demo (--demo --pipewire
# for the show through a private PipeWire instead of the virtual card), or on a machine
# without a sound card, it runs the demo instead: the utility on the virtual sound card,
# steered by calvora-ctl, with a session bus and a display of its own where there are none
# (scripts/demo.sh says what it starts).
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
has_sound_card() { grep -q '^ *[0-9]' /proc/asound/cards 2>/dev/null; }
if [ "${1:-}" = "--demo" ] || { [ $# -eq 0 ] && ! has_sound_card; }; then
  [ $# -eq 0 ] && echo "run.sh: no sound card; running the demo on the virtual sound card" >&2
  exec "$root/scripts/demo.sh" "$build" "${@:2}"
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display; drawing the window offscreen" >&2
  export QT_QPA_PLATFORM=offscreen
fi
if ! has_sound_card && [ -z "${ALSA_CONFIG_PATH:-}" ]; then
  echo "run.sh: no sound card; the virtual sound card stands in" >&2
  export ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$build/virtual-card/virtual-card.conf"
fi
exec "$build/src/app/calvora-audio-mixer" "$@"
