#!/usr/bin/env bash
# The example controlling program of docs/controlling-programs.md, taken from the page as it
# stands, against the real program on the virtual sound card and a private session bus: it
# learns the program ID, receives "Online" and audio blocks, hears the silence and mutes the
# virtual mixer's line, which amixer in another process then reads as switched off.
set -euo pipefail
program=$1
card=$2
docs=$3
work=$(mktemp -d)
pid=""
cleanup() {
  [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  echo "--- peer" >&2; cat "$work/peer.log" >&2 || true
  echo "--- utility" >&2; cat "$work/app.log" >&2 || true
  exit 1
}

awk '/^```python$/ {on = 1; next} /^```$/ {on = 0} on' "$docs" >"$work/example_peer.py"
[ -s "$work/example_peer.py" ] || fail "no python example in $docs"

export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" XDG_CONFIG_DIRS="$work/xdg"
export ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$card/virtual-card.conf"
export CALVORA_VIRTUAL_CARD_DIR=$work
# Three seconds of tone, then silence: a silence verdict two seconds after it begins, the mute
# half a second later; the peer runs for twelve seconds, room for a busy machine.
"$card/calvora-virtual-capture-ctl" programme pattern tone:-20:3,silence:60 >/dev/null
cp "$program" "$work/calvora-audio-mixer"
cat >"$work/calvora-audio-mixer.ini" <<'INI'
[Settings]
PID=77
UseSoundCard=1
UseMixer=1
SourceMode=1
[Soundcard]
Card=Calvora Virtual Capture
SilenceTime=2
RestoreTime=1
[Mixer]
FadeOut=0.5
FadeIn=0.5
Device0=Calvora Virtual Mixer
Root0=0
Line0=2
Level0=51400
INI
"$work/calvora-audio-mixer" >"$work/app.log" 2>&1 &
pid=$!
for _ in $(seq 1 100); do
  busctl --user list 2>/dev/null | grep -q org.calvora.Window.TCV_AudioMixer.H && break
  sleep 0.1
done

# Debian's own Python, which python3-dbus and python3-gi belong to.
/usr/bin/python3 "$work/example_peer.py" 12 >"$work/peer.log" 2>&1 || fail "the example peer failed"
grep -q 'program ID 77$' "$work/peer.log" || fail "no program ID 77"
grep -q 'NTF_ONLINE 0$' "$work/peer.log" || fail "no Online of the sound card"
grep -q 'NTF_ONLINE 1$' "$work/peer.log" || fail "no Online of the mixer"
grep -q 'AUDIO rate=48000 channels=2 bits=16 left=-20.0 right=-20.0 bytes=1920' "$work/peer.log" ||
  fail "no audio block of the -20 dBFS tone"
grep -q 'NTF_SILENCE 0$' "$work/peer.log" || fail "no silence verdict"
grep -q 'sent CMD_MUTE 0$' "$work/peer.log" || fail "the peer did not mute"
line=$(amixer -D calvora_mixer sget Line)
grep -q 'Playback.*\[off\]' <<<"$line" || fail "the virtual mixer's Line is not muted: $line"
kill -0 "$pid" || fail "the utility ended"
echo "ok: the example peer got the program ID, Online, audio and the silence, and muted the line"
