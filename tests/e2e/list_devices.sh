#!/usr/bin/env bash
# The program's options that need no window, run with no display at all: --list-devices on the
# virtual card (and on the desktop's own ALSA configuration), --version and --help.
set -euo pipefail
program=$1
virtual_card_conf=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM CALVORA_DEBUG
export CALVORA_VIRTUAL_CARD_DIR="$work"

fail() { echo "FAIL: $*" >&2; exit 1; }
has() { grep -qF -- "$2" "$1" || { cat "$1"; fail "no '$2' in the output"; }; }

# Another program sets the dB-scaled headphone line to half of what alsamixer shows.
export ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$virtual_card_conf"
amixer -q -M -D calvora_mixer sset Headphone 50%
amixer -q -D calvora_mixer sset PCM,0 mute
"$program" --list-devices > "$work/out.txt" 2> "$work/err.txt" || fail "exit status $?"
has "$work/out.txt" '"Calvora Virtual Capture"  16-bit stereo at'
has "$work/out.txt" '"Calvora Virtual Mixer"'
has "$work/out.txt" 'root 0 "Playback"'
has "$work/out.txt" 'root 1 "Capture"'
has "$work/out.txt" 'line 0 "Playback"  volume 45197 (69 %)  not muted'
has "$work/out.txt" 'line 1 "PCM"  volume 51400 (78 %)  muted'
has "$work/out.txt" 'line 3 "Beep"  not muted'
has "$work/out.txt" 'line 1 "Mic"  volume 32768 (50 %)  not muted'
grep -qE 'line 5 "Headphone"  volume [0-9]+ \((49|50|51) %\)' "$work/out.txt" ||
  { cat "$work/out.txt"; fail "the headphone line is not at 50 %"; }
# Nothing on stderr: ALSA's own lines stay silent unless asked for, and no other library speaks
# (JACK's client library would, were its device opened with no JACK server running).
[ ! -s "$work/err.txt" ] || { cat "$work/err.txt"; fail "lines on stderr"; }
CALVORA_DEBUG=1 "$program" --list-devices > /dev/null 2> "$work/err.txt"
has "$work/err.txt" "ALSA lib "
echo "ok: --list-devices on the virtual card"

# The desktop's configuration alone: no device here, the sound server's mixer not running.
unset ALSA_CONFIG_PATH
"$program" --list-devices > "$work/out.txt" 2> "$work/err.txt" ||
  { cat "$work/err.txt"; fail "exit status $? without the virtual card"; }
has "$work/out.txt" "Mixer devices"
[ ! -s "$work/err.txt" ] || { cat "$work/err.txt"; fail "lines on stderr"; }
! grep -q '"JACK' "$work/out.txt" || { cat "$work/out.txt"; fail "JACK offered with no server"; }
echo "ok: --list-devices on the desktop's configuration"

"$program" --version > "$work/out.txt"
grep -qE '^Calvora Audio Mixer [0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$' "$work/out.txt" ||
  { cat "$work/out.txt"; fail "--version"; }
"$program" --help > "$work/out.txt"
has "$work/out.txt" "Usage: calvora-audio-mixer"
has "$work/out.txt" "--list-devices"
has "$work/out.txt" "CALVORA_DEBUG=1"
echo "ok: --version and --help"
