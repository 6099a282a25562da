#!/usr/bin/env bash
# The real program on a private session bus: it registers its window where controlling
# programs find it, answers them, and closes on SIGTERM.
set -euo pipefail
program=$1
ctl=$2
work=$(mktemp -d)
cleanup() {
  [ -n "${pid:-}" ] && kill -9 "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp "$program" "$work/calvora-audio-mixer"
printf '[Settings]\nUseSoundCard=0\nUseMixer=0\n' > "$work/calvora-audio-mixer.ini"
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" XDG_CONFIG_DIRS="$work/xdg"

fail() { echo "FAIL: $*" >&2; cat "$work/out.log" >&2 || true; exit 1; }

"$work/calvora-audio-mixer" > "$work/out.log" 2>&1 &
pid=$!
listed=""
for _ in $(seq 1 100); do
  listed=$("$ctl" list 2>/dev/null || true)
  [ -n "$listed" ] && break
  sleep 0.1
done
[ -n "$listed" ] || fail "the window never appeared on the bus"
echo "listed: $listed"
names=$(busctl --user list 2>/dev/null) || true
grep -q 'org.calvora.Window.TCV_AudioMixer.H' <<<"$names" ||
  fail "no bus name org.calvora.Window.TCV_AudioMixer.H<n>"
# Outside interactive mode every command is answered 0.
id=$("$ctl" identify) || fail "identify failed"
[ "$id" = "0" ] || fail "identify answered '$id' outside interactive mode"

kill -TERM "$pid"
for _ in $(seq 1 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "still running 10 s after SIGTERM"
wait "$pid" || fail "non-zero exit after SIGTERM"
pid=""
# The bus removed the window's name with the program.
[ -z "$("$ctl" list 2>/dev/null || true)" ] || fail "the window is still listed after exit"
echo "ok: listed on the bus, answered, closed on SIGTERM"
