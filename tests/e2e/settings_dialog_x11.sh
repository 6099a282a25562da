#!/usr/bin/env bash
# The real program on an X server (Xvfb, no window manager): the "Settings" button pressed
# from the keyboard opens a window captioned exactly "Settings" with a 437 x 424 client area;
# Escape closes it and the program runs on.
set -euo pipefail
program=$1 card_conf=$2
for tool in Xvfb xdotool xprop xwininfo; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/install-deps.sh)"; exit 77; }
done
work=$(mktemp -d)
xvfb_pid= app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; cat "$work/out.log" >&2 2>/dev/null || true; exit 1; }

# Wait up to 10 s for a command to succeed.
wait_for() {
  for _ in $(seq 1 100); do "$@" && return 0; sleep 0.1; done
  return 1
}

cp "$program" "$work/calvora-audio-mixer"
: > "$work/calvora-audio-mixer.ini"
export XDG_CONFIG_HOME="$work/config" XDG_CONFIG_DIRS="$work/xdg"
# The virtual card alone: what this test looks at is the dialog's frame, not device listing.
export ALSA_CONFIG_PATH=$card_conf CALVORA_VIRTUAL_CARD_DIR="$work"
unset DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM

Xvfb -displayfd 3 -screen 0 1024x768x24 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
wait_for test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"

"$work/calvora-audio-mixer" >"$work/out.log" 2>&1 &
app_pid=$!
main_window() { xdotool search --name '^Calvora Audio Mixer' 2>/dev/null | head -1; }
main_shown() { [ -n "$(main_window)" ]; }
wait_for main_shown || fail "no main window"
main=$(main_window)
wait_for xdotool windowfocus --sync "$main" || fail "cannot focus the main window"

# The only control that takes the keyboard is the "Settings" button.
xdotool key --clearmodifiers Tab space
dialog_window() { xdotool search --name '^Settings$' 2>/dev/null | head -1; }
dialog_shown() { [ -n "$(dialog_window)" ]; }
dialog_gone() { [ -z "$(dialog_window)" ]; }
wait_for dialog_shown || fail "the Settings button did not open the dialog"
dialog=$(dialog_window)
title=$(xprop -id "$dialog" _NET_WM_NAME)
[ "$title" = '_NET_WM_NAME(UTF8_STRING) = "Settings"' ] || fail "caption: $title"
size=$(xwininfo -id "$dialog" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
[ "$size" = "437x424" ] || fail "client area $size"
echo "ok: the keyboard opened \"Settings\", $size"

xdotool key --clearmodifiers Escape
wait_for dialog_gone || fail "Escape did not close the dialog"
sleep 0.5
kill -0 "$app_pid" 2>/dev/null || fail "the program ended with the dialog"
echo "ok: Escape closed it and the program runs on"
