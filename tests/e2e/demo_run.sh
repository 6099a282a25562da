#!/usr/bin/env bash
# The demo as a newcomer starts it on a machine with no sound card, display or session bus.
#
#   demo_run.sh DEMO_SCRIPT BUILD_DIR            the whole story: within its first minute it
#       shows both devices "Online", moving levels, a silence and the sound coming back, the
#       line muted and restored on the virtual mixer, and screenshots; then SIGINT to its
#       process group, as Ctrl-C in a terminal sends, ends it and everything it started.
#   demo_run.sh DEMO_SCRIPT BUILD_DIR signals    the demo with its output piped into tee or
#       head, as `./run.sh | tee demo.log` in a terminal: Ctrl-C, a closed terminal (SIGHUP),
#       SIGTERM and the end of the reader each end everything it started within 3 s.
set -uo pipefail
set -m # the demo gets a process group of its own, with SIGINT not ignored
demo_script=$1
build=$2
mode=story
demo_options=()
case ${3:-} in
  signals) mode=signals ;; # the demo's output piped, and ended by signals
  --pipewire) # the show through a private PipeWire
    demo_options=(--pipewire)
    for needed in pipewire wireplumber pipewire-pulse pw-play pactl; do
      command -v "$needed" >/dev/null || {
        echo "SKIP: the demo on PipeWire needs $needed (scripts/install-deps.sh installs it)"
        exit 77
      }
    done
    ;;
esac
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
# Every process that carries the demo's own folder in its environment, as all it starts do:
# found even when the demo has ended and left them to the system.
marked() {
  local e
  for e in $(grep -lzx "DEMO_DIR=$work/demo" /proc/[0-9]*/environ 2>/dev/null); do
    e=${e#/proc/}
    echo "${e%/environ}"
  done
}
# Notes every process below the demo, or marked as its own, that runs now.
note_descendants() {
  local p
  for p in $(descendants "$1") $(marked); do
    [ -n "${seen[$p]:-}" ] || seen[$p]=$(ps -o args= -p "$p" 2>/dev/null) || unset "seen[$p]"
  done
}
left_running() {
  local p left=()
  note_descendants "$demo_pid"
  for p in "${!seen[@]}"; do still_running "$p" && left+=("$p ${seen[$p]}"); done
  echo "${left[*]}"
}

demo_env=(env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR
  DEMO_DIR="$work/demo" DEMO_SCREENSHOT_EVERY=2 TMPDIR="$work")

if [ "$mode" = signals ]; then
  # reader | signal | whom: the demo's output goes through the reader into the log; the signal
  # goes to the whole job (as a terminal sends it) or to the demo alone; "none" sends nothing:
  # head has read its lines and gone, the programs writing to it die of that, and the demo
  # must notice and end the rest.
  cases=(
    "tee|INT|job"
    "tee|HUP|job"
    "tee|TERM|demo"
    "head -n 1000|INT|job"
    "head -n 30|none|demo"
  )
  for c in "${cases[@]}"; do
    IFS='|' read -r reader signal whom <<<"$c"
    seen=()
    rm -rf "$work/demo"
    # The reader writes the log itself, as tee does in a terminal.
    "${demo_env[@]}" "$demo_script" "$build" 2>&1 | $reader >"$work/demo.log" &
    demo_pid=$(jobs -p %+)
    reader_pid=$!
    seen[$reader_pid]=$(ps -o args= -p "$reader_pid")
    # Until everything is started: both controlling programs are there and have spoken.
    for _ in $(seq 1 600); do # at most 60 s
      note_descendants "$demo_pid"
      grep -q "calvora-ctl  start the work" "$work/demo.log" && break
      kill -0 "$demo_pid" 2>/dev/null || break
      sleep 0.1
    done
    if [ "$signal" != none ]; then
      grep -q "calvora-ctl  start the work" "$work/demo.log" || fail "$c: the demo did not start"
      sleep 1
      note_descendants "$demo_pid"
      if [ "$whom" = job ]; then kill "-$signal" -- "-$demo_pid"; else kill "-$signal" "$demo_pid"; fi
    else
      # Its output gone, the demo ends by itself.
      for _ in $(seq 1 200); do
        kill -0 "$demo_pid" 2>/dev/null || break
        note_descendants "$demo_pid"
        sleep 0.1
      done
    fi
    sleep 3
    left=$(left_running)
    [ -z "$left" ] || fail "$c: left running 3 s after the signal: $left"
    kill -0 "$demo_pid" 2>/dev/null && fail "$c: the demo itself still runs"
    wait "$demo_pid" 2>/dev/null
    # The whole demo was up: bus, Xvfb, three programs with their filters, two watchers.
    [ ${#seen[@]} -ge 10 ] || fail "$c: only ${#seen[@]} processes seen: ${seen[*]}"
    echo "ok: $c: ${#seen[@]} processes ended"
    demo_pid=""
  done
  exit 0
fi

"${demo_env[@]}" "$demo_script" "$build" "${demo_options[@]}" >"$work/demo.log" 2>&1 &
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
  note_descendants "$demo_pid"
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
left=$(left_running)
[ -z "$left" ] || fail "left running after SIGINT: $left"
echo "ok: Online, levels, silence, mute, sound back, restore, $shots screenshots; SIGINT ended ${#seen[@]} processes"
