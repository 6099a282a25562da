#!/usr/bin/env bash
# The demo as a newcomer starts it on a machine with no sound card, display or session bus:
# within its first minute it shows both devices "Online", moving levels, a silence and the
# sound coming back, the line muted and restored on the virtual mixer, and screenshots; then
# SIGINT to its process group, as Ctrl-C in a terminal sends, ends it and everything it
# started.
set -uo pipefail
set -m # the demo gets a process group of its own, with SIGINT not ignored
demo_script=$1
build=$2
demo_options=("${@:3}") # --pipewire: the show through a private PipeWire
if [ "${demo_options[*]}" = --pipewire ]; then
  for needed in pipewire wireplumber pipewire-pulse pw-play pactl; do
    command -v "$needed" >/dev/null || {
      echo "SKIP: the demo on PipeWire needs $needed (scripts/install-deps.sh installs it)"
      exit 77
    }
  done
fi
work=$(mktemp -d)
demo_pid=""
declare -A seen # pid -> command line, of every process the demo started
cleanup() {
  [ -n "$demo_pid" ] && kill -KILL -- "-$demo_pid" 2>/dev/null
  for p in "${!seen[@]}"; do still_running "$p" && kill -KILL "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; cat "$work/demo.log" >&2; exit 1; }

# A pid still running the same command (a pid of a short-lived process may be reused).
still_running() {
  local now
  now=$(ps -o args= -p "$1" 2>/dev/null) && [ -n "$now" ] && [ "$now" = "${seen[$1]}" ]
}

# Every process below the demo, found through the parent links.
descendants() {
  ps -eo pid=,ppid= | awk -v root="$1" '
    { parent[$1] = $2 }
    END { for (p in parent) { q = p; while (q in parent && q != root && q > 1) q = parent[q]; if (q == root && p != root) print p } }'
}

env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR \
  DEMO_DIR="$work/demo" DEMO_SCREENSHOT_EVERY=2 TMPDIR="$work" \
  "$demo_script" "$build" "${demo_options[@]}" >"$work/demo.log" 2>&1 &
demo_pid=$!

wanted=(
  "sound card   Online$"
  "mixer        Online (lines opened)"
  "levels       L  *-[0-9]"
  "sound card   Silence"
  "calvora-ctl  mute the line"
  "mixer line   .*switch off"
  "sound card   Online   <- sound is back"
  "calvora-ctl  restore the line"
)
for _ in $(seq 1 900); do # at most 90 s
  for p in $(descendants "$demo_pid"); do
    [ -n "${seen[$p]:-}" ] || seen[$p]=$(ps -o args= -p "$p" 2>/dev/null) || unset "seen[$p]"
  done
  all=1
  for w in "${wanted[@]}"; do grep -q -- "$w" "$work/demo.log" || { all=0; break; }; done
  [ $all -eq 1 ] && break
  kill -0 "$demo_pid" 2>/dev/null || fail "the demo ended by itself"
  sleep 0.1
done
for w in "${wanted[@]}"; do grep -q -- "$w" "$work/demo.log" || fail "the demo never showed: $w"; done
# The volume moved on its way down or up, read from the virtual mixer (or the server's sink).
[ "$(grep -c 'mixer line   volume' "$work/demo.log")" -ge 4 ] || fail "no fade seen on the mixer line"
[ "$(grep -c 'levels       L' "$work/demo.log")" -ge 20 ] || fail "fewer than 20 level lines"
shots=$(ls "$work"/demo/screenshots/*.png 2>/dev/null | wc -l)
[ "$shots" -ge 3 ] || fail "$shots screenshots"
file "$(ls "$work"/demo/screenshots/*.png | tail -n 1)" | grep -q 'PNG image data' || fail "no PNG"

kill -INT -- "-$demo_pid"
for _ in $(seq 1 200); do
  kill -0 "$demo_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$demo_pid" 2>/dev/null && fail "the demo did not end within 20 s of SIGINT"
wait "$demo_pid"
demo_pid=""
left=()
for p in "${!seen[@]}"; do still_running "$p" && left+=("$p ${seen[$p]}"); done
[ ${#left[@]} -eq 0 ] || fail "left running after SIGINT: ${left[*]}"
echo "ok: Online, levels, silence, mute, sound back, restore, $shots screenshots; SIGINT ended ${#seen[@]} processes"
