#!/usr/bin/env bash
# Starts the real program as its own process and ends it the way a session does: SIGTERM and
# SIGHUP close it at once, without the confirmation of interactive mode and without saving.
set -euo pipefail
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The settings file lives beside the executable, so the program runs from a folder of its own.
cp "$program" "$work/calvora-audio-mixer"
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" XDG_CONFIG_DIRS="$work/xdg"
unset DBUS_SESSION_BUS_ADDRESS

fail() { echo "FAIL: $*" >&2; exit 1; }

run_and_signal() {
  local signal=$1 settings=$2
  printf '%s' "$settings" > "$work/calvora-audio-mixer.ini"
  cp "$work/calvora-audio-mixer.ini" "$work/before.ini"
  "$work/calvora-audio-mixer" > "$work/out.log" 2>&1 &
  local pid=$!
  # Give it time to come up; it must still be running.
  for _ in $(seq 1 30); do sleep 0.1; done
  kill -0 "$pid" 2>/dev/null || { cat "$work/out.log"; fail "the program ended by itself"; }
  kill -s "$signal" "$pid"
  local waited=0
  while kill -0 "$pid" 2>/dev/null; do
    sleep 0.1
    waited=$((waited + 1))
    [ $waited -lt 100 ] || { kill -9 "$pid"; fail "no exit within 10 s of $signal"; }
  done
  local status=0
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || { cat "$work/out.log"; fail "exit status $status after $signal"; }
  cmp -s "$work/before.ini" "$work/calvora-audio-mixer.ini" || fail "settings changed on exit"
  echo "ok: $signal closes ($(echo "$settings" | tr '\n' ' '))"
}

run_and_signal TERM $'[Settings]\nSourceMode=1\nPID=7\n'
run_and_signal HUP $'[Settings]\nSourceMode=1\nUseSoundCard=1\nUseMixer=1\n'
run_and_signal TERM $'[Settings]\nHide=1\nUseMixer=1\n'
