#!/usr/bin/env bash
# The demo: the utility on the virtual sound card, steered by `calvora-ctl auto`, on a machine
# that may have no sound card, no display and no session bus.
#
#   scripts/demo.sh [BUILD_DIR] [--pipewire]   (./run.sh --demo [--pipewire] builds first and
#                                               calls this)
#
# With --pipewire the show runs through the desktop's own sound server instead of the virtual
# card: a private PipeWire (pipewire, wireplumber, pipewire-pulse on a runtime folder and session
# bus of the demo's own) with a null sink, the programme played into the sink with pw-play, the
# utility capturing the sink's monitor ("PipeWire Sound Server") and muting and restoring the
# sink's volume through the server's mixer ("PipeWire", Playback, Master), read with pactl.
#
# What it starts, each in a process group of its own so that Ctrl-C reaches only this script,
# which then ends them (the programs, then Xvfb and the bus) within 3 s and waits for them,
# also when its output went into a pipe whose reader is gone (`| tee` ended by the same Ctrl-C,
# `| head`) or to a terminal that was closed. It ends by itself when one of its programs ends.
#   - a private session bus (dbus-daemon) when there is none;
#   - Xvfb when there is no display, so the window is really drawn and can be photographed;
#   - the virtual capture device playing a programme of speech, short pauses and dead air, and
#     the virtual mixer;
#   - a copy of the program in BUILD_DIR/demo with the demo settings beside it (interactive
#     mode, program ID 3141, the virtual capture device, the virtual mixer's "Line");
#   - `calvora-ctl watch`, which reports what the utility sends, and `calvora-ctl auto`, the
#     controlling program: it starts the work, mutes the line on every silence and restores it
#     when sound comes back.
# It prints the notifications with their time, the levels four times a second, each mute and
# restore, and the line's volume and switch as the virtual mixer holds them (read with amixer),
# and saves a screenshot of the window every few seconds into BUILD_DIR/demo/screenshots.
#
# Environment: DEMO_SCREENSHOT_EVERY (seconds, default 5), DEMO_DIR (default BUILD_DIR/demo).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
pipewire=0
args=()
for arg in "$@"; do
  if [ "$arg" = --pipewire ]; then pipewire=1; else args+=("$arg"); fi
done
build=$(cd "${args[0]:-${BUILD_DIR:-$root/build}}" && pwd)
demo=${DEMO_DIR:-$build/demo}
shots=$demo/screenshots
every=${DEMO_SCREENSHOT_EVERY:-5}
program=$build/src/app/calvora-audio-mixer
ctl=$build/tools/calvora-ctl/calvora-ctl
card=$build/virtual-card

# A note that finds no reader (the end of a pipe closed, the terminal gone) is lost quietly.
note() { printf '%s %-12s %s\n' "$(date +%H:%M:%S.%3N)" demo "$*" 2>/dev/null; }
die() { echo "demo: $*" >&2; exit 1; }

for needed in "$program" "$ctl" "$card/calvora-virtual-capture-ctl" "$card/demo-programme.wav"; do
  [ -e "$needed" ] || die "$needed is missing; build first (./run.sh --demo does)"
done
command -v amixer >/dev/null || die "amixer is missing (Debian package alsa-utils)"
if [ $pipewire -eq 1 ]; then
  for needed in pipewire wireplumber pipewire-pulse pw-play pactl; do
    command -v "$needed" >/dev/null ||
      die "$needed is missing (Debian packages pipewire, wireplumber, pipewire-pulse, pulseaudio-utils)"
  done
fi

# Every process started here, in start order; they are ended in reverse order.
started=()
watchers=()
start_group() { # start_group NAME COMMAND...: runs COMMAND as the leader of a new process group
  setsid "${@:2}" &
  started+=("$!:$1")
}

# await_gone TENTHS TARGET...: waits up to TENTHS tenths of a second until no TARGET (a pid, or
# a process group as -pid) is left; false if some are. It polls rather than `wait`s: a child
# that a signal from the terminal ended while this script was itself being signalled can be
# collected in a way that leaves `wait` waiting for it for ever.
await_gone() {
  local tenths=$1 target=""
  shift
  for _ in $(seq 1 "$tenths"); do
    for target in "$@"; do kill -0 -- "$target" 2>/dev/null && break; done
    kill -0 -- "$target" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}

# end_groups TENTHS PID...: SIGTERM to each process group, TENTHS tenths of a second to end,
# then SIGKILL.
end_groups() {
  local tenths=$1 pid
  shift
  for pid in "$@"; do kill -TERM -- "-$pid" 2>/dev/null; done
  await_gone "$tenths" "${@/#/-}" && return
  for pid in "$@"; do
    if kill -0 -- "-$pid" 2>/dev/null; then
      note "process group $pid ($(ps -o args= -p "$pid")) did not end in time; killing it"
      kill -KILL -- "-$pid" 2>/dev/null
    fi
  done
}

cleaning=0
cleanup() {
  [ $cleaning -eq 1 ] && return
  cleaning=1
  # Ctrl-C ends the reader of a pipe (`| tee`) along with this script, and a closed terminal
  # takes the output with it: the clean-up must outlive writing to either. It ends everything
  # within 3 s, whatever hangs.
  trap '' INT TERM HUP PIPE
  echo 2>/dev/null
  note "ending: ${#started[@]} processes"
  end_groups 5 "${watchers[@]}"
  # The programs first, all at once (each closes by itself on SIGTERM: the controlling programs
  # and the utility say goodbye to each other), then Xvfb and the session bus they used.
  local entry programs=() services=()
  for entry in "${started[@]}"; do
    case ${entry#*:} in
      Xvfb | "session bus" | pipewire | wireplumber | pipewire-pulse) services+=("${entry%%:*}") ;;
      *) programs+=("${entry%%:*}") ;;
    esac
  done
  end_groups 15 "${programs[@]}"
  end_groups 8 "${services[@]}"
  [ -n "${state:-}" ] && rm -rf "$state"
  note "done; screenshots are in $shots"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
# Its output gone (`| head` has read enough), the demo ends as any program would, but cleanly.
trap 'exit 141' PIPE

mkdir -p "$demo"
rm -rf "$shots"
mkdir -p "$shots"
state=$(mktemp -d "${TMPDIR:-/tmp}/calvora-demo.XXXXXX")
# Qt wants a private runtime folder; a bare machine may have none. The private PipeWire has one
# of its own, with its own session bus, so that a desktop's own server is never touched.
if [ $pipewire -eq 1 ]; then
  mkdir -m 700 "$state/runtime"
  export XDG_RUNTIME_DIR=$state/runtime PULSE_RUNTIME_PATH=$state/runtime/pulse
  export XDG_STATE_HOME=$state/home/state XDG_DATA_HOME=$state/home/data
  export PIPEWIRE_CONFIG_HOME=$state/home/config
  unset DBUS_SESSION_BUS_ADDRESS PULSE_SERVER PIPEWIRE_REMOTE
elif [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  mkdir -m 700 "$state/runtime"
  export XDG_RUNTIME_DIR=$state/runtime
fi

# The session bus: the user's own if there is one, else a private one for the demo.
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] && ! [ -S "${XDG_RUNTIME_DIR:-/nonexistent}/bus" ]; then
  command -v dbus-daemon >/dev/null || die "dbus-daemon is missing (Debian package dbus-daemon)"
  mkfifo "$state/bus"
  # The redirection belongs to the background child: opening a FIFO waits for its reader.
  setsid dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$state/bus" \
    2>"$state/bus.log" &
  started+=("$!:session bus")
  read -r address <"$state/bus" || die "the session bus did not start"
  export DBUS_SESSION_BUS_ADDRESS=$address
  note "no session bus; started a private one at $address"
fi

# The display: the user's own if there is one, else Xvfb.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  command -v Xvfb >/dev/null || die "Xvfb is missing (Debian package xvfb)"
  mkfifo "$state/display"
  # -noreset: a server that resets when its last client leaves heeds SIGTERM only after that.
  setsid Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset 3>"$state/display" \
    2>"$state/xvfb.log" &
  started+=("$!:Xvfb")
  read -r number <"$state/display" || die "Xvfb did not start"
  export DISPLAY=:$number QT_QPA_PLATFORM=xcb
  note "no display; drawing on Xvfb at $DISPLAY"
fi

# The virtual sound card, its state in a folder of its own, and the programme it plays.
export ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$card/virtual-card.conf"
export CALVORA_VIRTUAL_CARD_DIR=$state
"$card/calvora-virtual-capture-ctl" programme file "$card/demo-programme.wav" >/dev/null ||
  die "the virtual capture device does not take the programme"

# The private PipeWire: the server, its session manager and its PulseAudio server, a null sink
# as the default sink and its monitor as the default source, the programme played into the sink.
sink=calvora_programme
if [ $pipewire -eq 1 ]; then
  start_group pipewire pipewire >"$state/pipewire.log" 2>&1
  for _ in $(seq 1 100); do [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break; sleep 0.1; done
  start_group wireplumber wireplumber >"$state/wireplumber.log" 2>&1
  start_group pipewire-pulse pipewire-pulse >"$state/pipewire-pulse.log" 2>&1
  for _ in $(seq 1 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl info >/dev/null 2>&1 || die "the private PipeWire did not start (logs in $state)"
  # The monitor carries the programme before the sink's volume and mute, so the utility hears
  # the programme while it fades the sink, as a station's output line.
  pactl load-module module-null-sink "sink_name=$sink" \
    "sink_properties=monitor.channel-volumes=false" >/dev/null
  pactl set-default-sink "$sink"
  pactl set-default-source "$sink.monitor"
  start_group programme bash -c 'while pw-play --target "$0" "$1"; do :; done' "$sink" \
    "$card/demo-programme.wav"
  note "a private PipeWire at $XDG_RUNTIME_DIR, null sink \"$sink\" playing the programme"
fi

# The program runs from a folder of its own, with the demo settings beside it.
cp -f "$program" "$demo/calvora-audio-mixer"
cp -f "$root/scripts/demo.ini" "$demo/calvora-audio-mixer.ini"
note "the utility: $demo/calvora-audio-mixer, settings beside it (interactive mode, program ID 3141)"
if [ $pipewire -eq 1 ]; then
  # The sound server's capture and its mixer's master volume (root 0, line 0).
  sed -i -e 's/^Card=.*/Card=PipeWire Sound Server/' -e 's/^Device0=.*/Device0=PipeWire/' \
    -e 's/^Line0=.*/Line0=0/' "$demo/calvora-audio-mixer.ini"
  note "the sound card: \"PipeWire Sound Server\", the null sink's monitor, 3 minutes of talk with pauses and dead air"
  note "the mixer line: \"PipeWire\", Playback, Master (the sink's volume); silence after 5 s, sound back after 2 s"
else
  note "the sound card: \"Calvora Virtual Capture\" playing 3 minutes of talk with pauses and dead air"
  note "the mixer line: \"Calvora Virtual Mixer\", Playback, Line; silence after 5 s, sound back after 2 s"
fi
handles() { "$ctl" list 2>/dev/null | awk '{print $1}' | sort; }
before=$(handles)

# Each program's lines go through demo-lines.awk, which makes them readable; mawk reads a pipe
# in large chunks unless told to read line by line.
awk_lines="awk"
# (Read whole: with pipefail, `| grep -q` could end the version text early and fail the test.)
case $(awk -W version 2>&1) in *mawk*) awk_lines="awk -W interactive" ;; esac
start_readable() { # start_readable NAME WHO COMMAND...: a process group, its lines made readable
  local name=$1 who=$2
  shift 2
  # The shell in front waits out a signal to the group until the program and its filter have
  # ended, and collects them (left to the system, their remains could keep the group alive for
  # a while); its own word that they were terminated is not wanted.
  start_group "$name" bash -c \
    'trap : INT TERM HUP; who=$1 lines=$2; shift 2
     { "$@" 2>&1 | '"$awk_lines"' -v "who=$who" -f "$lines" 2>&3; } 3>&2 2>/dev/null' \
    _ "$who" "$root/scripts/demo-lines.awk" "$@"
}

start_readable "calvora-audio-mixer" utility "$demo/calvora-audio-mixer"
app=${started[-1]%%:*}

# Its window on the bus is the one that was not listed before it started.
handle=""
for _ in $(seq 1 100); do
  handle=$(comm -13 <(echo "$before") <(handles) | head -n 1)
  [ -n "$handle" ] && break
  kill -0 "$app" 2>/dev/null || die "the utility ended at start-up"
  sleep 0.1
done
[ -n "$handle" ] || die "the utility did not appear on the session bus"
note "the utility's window on the session bus has the handle $handle"

# Two peers: `calvora-ctl watch` prints what the utility reports, four level lines a second
# (of 100 blocks); `calvora-ctl auto` is the controlling program and only its commands are
# shown. The watcher is admitted first (the utility admits a new peer at its next 100 ms scan),
# so it also sees the "Online" that follows the start command at once.
start_readable "calvora-ctl watch" watch "$ctl" --handle "$handle" watch --levels-every 25
sleep 0.3
start_readable "calvora-ctl auto" auto "$ctl" --handle "$handle" auto --levels-every 1000000

# The watchers below are loops of their own shell, each a process group of its own like the
# programs: the clean-up ends a loop and whatever it runs at that moment with one signal.
start_watcher() { # start_watcher FUNCTION ARGS...: runs an exported FUNCTION as a new group
  setsid bash -c '"$@"' _ "$@" &
  watchers+=("$!")
}

# The mixer line as the virtual mixer (or the sound server) holds it: every change of volume or
# switch.
line_now() {
  if [ "$pipewire" -eq 1 ]; then
    volume=$(pactl get-sink-volume "$sink" 2>/dev/null | awk '/Volume:/ {print $3 " of 65536 (" $5 ")"; exit}')
    muted=$(pactl get-sink-mute "$sink" 2>/dev/null | awk '{print $2}')
    [ -n "$volume" ] && echo "volume $volume, switch $([ "$muted" = yes ] && echo off || echo on)"
  else
    amixer -D calvora_mixer sget Line 2>/dev/null | awk '
      /Limits: Playback/ { top = $NF }
      /Front Left: Playback/ { gsub(/[][]/, ""); print "volume " $4 " of " top " (" $5 "), switch " $6 }'
  fi
}
watch_mixer_line() {
  local last="" now
  while :; do
    now=$(line_now)
    if [ -n "$now" ] && [ "$now" != "$last" ]; then
      printf '%s %-12s %s\n' "$(date +%H:%M:%S.%3N)" "mixer line" "$now"
      last=$now
    fi
    sleep 0.1
  done
}
export -f line_now watch_mixer_line
export pipewire sink=${sink:-}
start_watcher watch_mixer_line

# A screenshot of the window every few seconds (the whole screen where the window is unknown).
take_screenshots() { # take_screenshots FOLDER SECONDS
  local shots=$1 every=$2 n=0 file window
  while :; do
    sleep "$every"
    n=$((n + 1))
    file=$(printf '%s/window-%04d-%s.png' "$shots" $n "$(date +%H%M%S)")
    window=$(xwininfo -root -tree 2>/dev/null | awk '/ "Calvora Audio Mixer / {print $1; exit}')
    { xwd -silent -id "${window:-none}" 2>/dev/null || xwd -silent -root; } |
      xwdtopnm 2>/dev/null | pnmtopng >"$file" 2>/dev/null || rm -f "$file"
  done
}
if command -v xwd >/dev/null && command -v xwdtopnm >/dev/null && [ -n "${DISPLAY:-}" ]; then
  note "screenshots every $every s into $shots"
  export -f take_screenshots
  start_watcher take_screenshots "$shots" "$every"
else
  note "no screenshots: they need an X display and xwd, xwdtopnm (x11-apps, netpbm)"
fi

# The demo lasts as long as each of its programs: one that ends (a peer whose output lost its
# reader dies of it) ends the demo, rather than leave it running in part.
ended=""
all_running() {
  local entry
  for entry in "${started[@]}"; do
    case ${entry#*:} in
      Xvfb | "session bus") ;;
      *) kill -0 "${entry%%:*}" 2>/dev/null || {
        ended=${entry#*:}
        return 1
      } ;;
    esac
  done
}
note "running; Ctrl-C ends the demo"
while all_running; do
  sleep 1 &
  wait $! 2>/dev/null
done
note "$ended has ended"
