#!/usr/bin/env bash
# The whole road of one silence event with the real programs: the utility on the virtual sound
# card and a private session bus, calvora-ctl as the controlling program, amixer in another
# process reading the virtual mixer's line. Then the mixer device vanishes and comes back.
#   mixer_silence_road.sh PROGRAM CALVORA_CTL VIRTUAL_CARD_CONF CAPTURE_CTL
set -euo pipefail
program=$1
ctl=$2
card_conf=$3
capture_ctl=$4
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" XDG_CONFIG_DIRS="$work/xdg"
export ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$card_conf"
export CALVORA_VIRTUAL_CARD_DIR="$work/card"
mkdir -p "$CALVORA_VIRTUAL_CARD_DIR"
cp "$program" "$work/calvora-audio-mixer"

fail() {
  echo "FAIL: $*" >&2
  echo "--- utility output" >&2
  cat "$work/out.log" >&2 || true
  echo "--- notifications" >&2
  cat "$work/events.log" >&2 || true
  exit 1
}

# The line under control: PCM (raw 0..255, no dB range, so 0..65535 maps onto it linearly).
pcm_volume() { amixer -D calvora_mixer cget name='PCM Playback Volume' | sed -n 's/.*: values=\([0-9]*\).*/\1/p'; }
pcm_switch() { amixer -D calvora_mixer cget name='PCM Playback Switch' | sed -n 's/.*: values=\([a-z]*\).*/\1/p'; }
now_ms() { date +%s%3N; }

# Waits up to $1 seconds for a notification line matching $2 beyond the first $3 lines.
wait_event() {
  local seconds=$1 pattern=$2 skip=${3:-0}
  local end=$(($(now_ms) + seconds * 1000))
  while [ "$(now_ms)" -lt "$end" ]; do
    tail -n "+$((skip + 1))" "$work/events.log" 2>/dev/null | grep -q "$pattern" && return 0
    sleep 0.05
  done
  return 1
}
events_so_far() { wc -l < "$work/events.log"; }

# Samples the PCM line every 100 ms for $1 seconds into $work/samples: ms since start, volume,
# switch.
sample_line() {
  local seconds=$1 start
  start=$(now_ms)
  : > "$work/samples"
  while [ $(($(now_ms) - start)) -lt $((seconds * 1000)) ]; do
    echo "$(($(now_ms) - start)) $(pcm_volume) $(pcm_switch)" >> "$work/samples"
    sleep 0.1
  done
}

# Checks a sampled fade: it moves from near $1 to $2 through values in between, one way only,
# and arrives after about $3 seconds (+/- 0.6 s: amixer itself takes a while per reading).
check_fade() {
  local from=$1 to=$2 seconds=$3
  awk -v from="$from" -v to="$to" -v seconds="$seconds" '
    function abs(x) { return x < 0 ? -x : x }
    { t[NR] = $1; v[NR] = $2 }
    END {
      between = 0; arrived = -1
      for (i = 1; i <= NR; i++) {
        if (i > 1 && (to - from) * (v[i] - v[i - 1]) < 0) { print "turned back at " t[i]; exit 1 }
        if (abs(v[i] - from) > 3 && abs(v[i] - to) > 3) between++
        if (arrived < 0 && v[i] == to) arrived = t[i]
      }
      if (between < 5) { print "only " between " readings between the ends"; exit 1 }
      if (arrived < 0) { print "never arrived at " to; exit 1 }
      if (abs(arrived - seconds * 1000) > 600) { print "arrived after " arrived " ms"; exit 1 }
    }' "$work/samples" || { cat "$work/samples" >&2; return 1; }
}

start_utility() {
  local only_down=$1
  cat > "$work/calvora-audio-mixer.ini" <<EOF
[Settings]
UseSoundCard=1
UseMixer=1
SourceMode=1
PID=7
[Soundcard]
Card=Calvora Virtual Capture
Bitrate=48000
SilenceLevel=-38
SilenceTime=1
RestoreTime=1
Wait=3
[Mixer]
Device0=Calvora Virtual Mixer
Root0=0
Line0=1
Level0=51000
OnlyDown=$only_down
FadeOut=3
FadeIn=2
Wait=2
EOF
  "$capture_ctl" programme "tone -20 1000"
  "$work/calvora-audio-mixer" > "$work/out.log" 2>&1 &
  utility=$!
  pids+=("$utility")
  for _ in $(seq 1 100); do
    [ "$("$ctl" identify 2>/dev/null || true)" = "7" ] && break
    sleep 0.1
  done
  [ "$("$ctl" identify 2>/dev/null || true)" = "7" ] || fail "the utility never answered its program ID"
  : > "$work/events.log"
  "$ctl" watch --json --levels-every 1000 > "$work/events.log" 2>&1 &
  pids+=("$!")
  watcher=$!
  sleep 0.5 # admitted by the utility's next 100 ms scan
}

stop_utility() {
  kill -TERM "$utility" "$watcher" 2>/dev/null || true
  wait "$utility" 2>/dev/null || true
  wait "$watcher" 2>/dev/null || true
}

for only_down in 0 1; do
  echo "== OnlyDown=$only_down"
  start_utility "$only_down"
  "$ctl" run --restore
  wait_event 5 '"code":"NTF_ONLINE","argument":1' || fail "no mixer online notification"
  wait_event 5 '"code":"NTF_ONLINE","argument":0' || fail "no sound-card online notification"
  sleep 2.5 # the restore's fade-in
  # 51000 of 65535 on the line's raw scale of 0..255.
  level=$(pcm_volume)
  [ "$level" -ge 197 ] && [ "$level" -le 199 ] && [ "$(pcm_switch)" = "on" ] ||
    fail "the line is not at its level after the restore: $level $(pcm_switch)"

  # The programme goes silent: after SilenceTime the controlling program hears of it.
  seen=$(events_so_far)
  "$capture_ctl" programme silence
  wait_event 5 '"code":"NTF_SILENCE"' "$seen" || fail "no silence notification"
  "$ctl" mute
  sample_line 4
  check_fade "$level" 0 3 || fail "the mute did not fade the line out over FadeOut"
  [ "$(pcm_switch)" = "off" ] || fail "the line is not muted after the fade-out"
  if [ "$only_down" = 1 ]; then
    [ "$(pcm_volume)" = 0 ] || fail "OnlyDown: the volume is not kept at 0 ($(pcm_volume))"
  else
    [ "$(pcm_volume)" = "$level" ] || fail "the level is not back behind the switch ($(pcm_volume))"
  fi

  # The programme comes back: after RestoreTime the sound-back notification; the restore fades in.
  seen=$(events_so_far)
  "$capture_ctl" programme "tone -20 1000"
  wait_event 5 '"code":"NTF_SOUND"' "$seen" || fail "no sound-back notification"
  "$ctl" unmute
  sample_line 3
  check_fade 0 "$level" 2 || fail "the restore did not fade the line in over FadeIn"
  [ "$(pcm_switch)" = "on" ] || fail "the switch is not on after the restore"
  echo "ok: silence, mute over FadeOut, sound back, restore over FadeIn"
  [ "$only_down" = 1 ] || stop_utility
done

# The mixer device vanishes: WAIT with the lines muted, OFFLINE after the wait; a mute command
# meanwhile is remembered, and the device's return reopens the line muted.
echo "== mixer device vanishing and returning"
seen=$(events_so_far)
touch "$CALVORA_VIRTUAL_CARD_DIR/mixer.absent"
wait_event 6 '"code":"NTF_OFFLINE","argument":1' "$seen" || fail "no mixer offline notification"
"$ctl" mute
seen=$(events_so_far)
rm "$CALVORA_VIRTUAL_CARD_DIR/mixer.absent"
wait_event 5 '"code":"NTF_ONLINE","argument":1' "$seen" || fail "no mixer online notification on return"
sleep 3.5 # the starting state's fade-out
[ "$(pcm_switch)" = "off" ] || fail "the returned line is not muted as the last command asked"
stop_utility
echo "ok: the whole road"
