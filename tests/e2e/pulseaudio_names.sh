#!/usr/bin/env bash
# The utility on PulseAudio itself, with nothing of PipeWire's running: its devices are called
# PulseAudio's, and a listing prints nothing on stderr. PulseAudio runs on a private runtime
# folder with a null sink; where it is not installed (PipeWire's pulse server takes its place in
# Debian) it is unpacked from its package into the build folder. Skipped, saying why, where
# neither can be had.
set -euo pipefail
program=$1
build=$2
work=$(mktemp -d)
server=""
cleanup() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; cat "$work/pulseaudio.log" >&2 2>/dev/null; exit 1; }

pulseaudio=$(command -v pulseaudio || true)
if [ -z "$pulseaudio" ]; then
  root=$(dirname "$0")/../..
  pulseaudio=$("$root/scripts/pulseaudio-private.sh" "$build/pulseaudio-private" 2>/dev/null) || {
    echo "SKIP: PulseAudio is not installed and its package could not be fetched"
    exit 77
  }
fi
# Its modules and libraries beside it (an unpacked copy keeps its own libwrap too).
prefix=$(cd "$(dirname "$pulseaudio")/.." && pwd)
modules=$(dirname "$(find "$prefix/lib" -maxdepth 4 -path '*/pulse-*/modules/module-null-sink.so' | head -n 1)")
[ -f "$modules/module-null-sink.so" ] || { echo "SKIP: PulseAudio's modules are missing"; exit 77; }
libraries=$modules
for library in 'libpulsecore-*.so' 'libwrap.so.0'; do
  found=$(find "$prefix/lib" "$prefix/../lib" -maxdepth 3 -name "$library" 2>/dev/null | head -n 1)
  [ -n "$found" ] && libraries=$libraries:$(dirname "$found")
done

mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime PULSE_RUNTIME_PATH=$work/runtime/pulse HOME=$work/home
unset PULSE_SERVER ALSA_CONFIG_PATH DISPLAY WAYLAND_DISPLAY
cat >"$work/default.pa" <<PA
load-module module-native-protocol-unix
load-module module-null-sink sink_name=calvora_programme
set-default-sink calvora_programme
set-default-source calvora_programme.monitor
PA
LD_LIBRARY_PATH=$libraries${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} \
  "$pulseaudio" -n -F "$work/default.pa" --daemonize=no --exit-idle-time=-1 \
  --dl-search-path="$modules" --log-target=stderr >"$work/pulseaudio.log" 2>&1 &
server=$!
for _ in $(seq 1 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl info 2>/dev/null | grep -q "^Server Name: pulseaudio" || fail "PulseAudio did not start"

"$program" --list-devices >"$work/out.txt" 2>"$work/err.txt" || fail "exit status $?"
grep -qF '"PulseAudio Sound Server"' "$work/out.txt" || { cat "$work/out.txt"; fail "no PulseAudio capture"; }
grep -qxF '  "PulseAudio"' "$work/out.txt" || { cat "$work/out.txt"; fail "no PulseAudio mixer"; }
! grep -q PipeWire "$work/out.txt" || { cat "$work/out.txt"; fail "PipeWire named on PulseAudio"; }
[ ! -s "$work/err.txt" ] || { cat "$work/err.txt"; fail "lines on stderr"; }
echo "ok: on PulseAudio the devices are \"PulseAudio Sound Server\" and \"PulseAudio\""
