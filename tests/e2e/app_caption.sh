#!/usr/bin/env bash
# The caption as the window manager reads it: the real program on an X server (Xvfb), its
# top-level window's _NET_WM_NAME exactly "Calvora Audio Mixer 1.0.0.1", nothing appended.
set -euo pipefail
program=$1
work=$(mktemp -d)
cleanup() {
  [ -n "${pid:-}" ] && kill -9 "$pid" 2>/dev/null || true
  [ -n "${xpid:-}" ] && kill "$xpid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; cat "$work/out.log" >&2 || true; exit 1; }

cp "$program" "$work/calvora-audio-mixer"
printf '[Settings]\nUseSoundCard=0\nUseMixer=0\n' > "$work/calvora-audio-mixer.ini"
# Xvfb picks a free display and writes its number to the descriptor.
exec 3> "$work/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
xpid=$!
for _ in $(seq 1 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")" QT_QPA_PLATFORM=xcb
export XDG_CONFIG_HOME="$work/config" XDG_CONFIG_DIRS="$work/xdg"

"$work/calvora-audio-mixer" > "$work/out.log" 2>&1 &
pid=$!
window=""
for _ in $(seq 1 100); do
  # The top-level window has a class ("calvora-audio-mixer" ...); Qt's 1x1 client leader none.
  window=$(xwininfo -root -tree 2>/dev/null | grep -o '0x[0-9a-f]* "Calvora[^"]*": ("' |
           head -n1 | cut -d' ' -f1 || true)
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || fail "no window titled Calvora... on the X server"
name=$(xprop -id "$window" _NET_WM_NAME)
echo "$name"
[ "$name" = '_NET_WM_NAME(UTF8_STRING) = "Calvora Audio Mixer 1.0.0.1"' ] ||
  fail "the window manager reads the caption as: $name"
kill -TERM "$pid"
wait "$pid" || fail "non-zero exit after SIGTERM"
pid=""
echo "ok: the caption reads exactly \"Calvora Audio Mixer 1.0.0.1\""
