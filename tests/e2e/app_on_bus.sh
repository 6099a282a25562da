#!/usr/bin/env bash
# The real program on a private session bus: it registers its window where controlling
# programs find it, answers them, and closes on SIGTERM. It reads settings files as Windows
# editors save them (UTF-16 with a mark and CRLF, UTF-8 with a mark) and a run that saves
# nothing leaves each byte for byte.
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
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" XDG_CONFIG_DIRS="$work/xdg"

fail() { echo "FAIL: $*" >&2; cat "$work/out.log" >&2 || true; exit 1; }

printf '[Settings]\nUseSoundCard=0\nUseMixer=0\n' > "$work/plain.ini"
# Notepad's "Unicode": UTF-16 LE after FF FE, CRLF line ends.
{
  printf '\xff\xfe'
  printf '; Einstellungen f\xc3\xbcr das Studio\r\n[Settings]\r\nSourceMode=1\r\nPID=4321\r\nUseSoundCard=0\r\nUseMixer=0\r\n' |
    iconv -f UTF-8 -t UTF-16LE
} > "$work/utf16le.ini"
printf '\xef\xbb\xbf[Settings]\r\nSourceMode=1\r\nPID=1234\r\nUseSoundCard=0\r\nUseMixer=0\r\n' > "$work/utf8-mark.ini"

# run_with SETTINGS ID: the program started with the settings file answers identify with ID,
# closes on SIGTERM, and leaves the file as it was.
run_with() {
  local settings=$1 expected=$2
  cp "$settings" "$work/calvora-audio-mixer.ini"
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
  id=$("$ctl" identify) || fail "identify failed"
  [ "$id" = "$expected" ] || fail "identify answered '$id', not $expected, with $(basename "$settings")"

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
  cmp -s "$settings" "$work/calvora-audio-mixer.ini" || fail "the run changed $(basename "$settings")"
  echo "ok: $(basename "$settings"): listed on the bus, answered $id, closed on SIGTERM, file untouched"
}

# Outside interactive mode every command is answered 0.
run_with "$work/plain.ini" 0
run_with "$work/utf16le.ini" 4321
run_with "$work/utf8-mark.ini" 1234
