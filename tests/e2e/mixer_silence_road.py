#!/usr/bin/env python3
"""The whole road of one silence event with the real programs: the utility in interactive mode
on the virtual sound card and a private session bus, calvora-ctl as the controlling program,
amixer in another process reading the virtual mixer's line as it moves. Once with "Only down"
off and once on; then the mixer device vanishes and comes back, while the capture, on the same
main loop as the device checks and the fade, loses no block.

Usage: mixer_silence_road.py PROGRAM CALVORA_CTL VIRTUAL_CAPTURE_CTL VIRTUAL_CARD_CONF
"""
import os
import subprocess
import sys
import time

from harness import Binaries, Session

program, ctl, card_ctl, card_conf = sys.argv[1:5]
FADE_OUT, FADE_IN, MIXER_WAIT = 3.0, 2.0, 2
LEVEL = 51000  # the line's level in 0..65535; PCM's raw scale is 0..255 without dB
RAW_LEVELS = (198, 199)

session = Session(Binaries(program, ctl, card_ctl, card_conf), prefix="calvora-e2e-mixer-")
env, fail, card, command = session.env, session.fail, session.card, session.command


def amixer_value(control):
    out = subprocess.run(["amixer", "-D", "calvora_mixer", "cget", f"name={control}"], env=env,
                         check=True, capture_output=True, text=True, timeout=10).stdout
    return out.rsplit(": values=", 1)[1].split(",")[0].strip()


def pcm():
    """The PCM line as another program sees it: raw volume and whether its switch is on."""
    return (int(amixer_value("PCM Playback Volume")),
            amixer_value("PCM Playback Switch") == "on")


def sample(seconds, origin=None):
    """Readings of the PCM line for `seconds`: (t0, t1, volume, switch on), where the line was
    read somewhere between t0 and t1, in seconds since `origin` (by default the call). The
    window says what a reading can tell however slowly amixer runs on a busy machine."""
    origin = time.monotonic() if origin is None else origin
    readings = []
    while time.monotonic() - origin < seconds:
        t0 = time.monotonic() - origin
        volume, on = pcm()
        readings.append((t0, time.monotonic() - origin, volume, on))
        time.sleep(0.03)
    return readings


def check_fade(readings, frm, to, seconds, ended, what):
    """The line moves from `frm` to `to` along the straight line over `seconds`, one way only,
    and the fade has ended (`ended` tells by a reading) at `seconds`. The device holds the value
    of the last 40 ms line tick; LAG covers that and the time the command took to arrive."""
    LAG = 0.1
    end = next((i for i, r in enumerate(readings) if ended(r)), None)
    if end is None or end == 0:
        fail(f"{what}: never ended or ended at once; readings {readings}")
    if readings[end][1] < seconds - LAG or readings[end - 1][0] > seconds + LAG:
        fail(f"{what}: ended between {readings[end - 1][0]:.2f} s and {readings[end][1]:.2f} s,"
             f" not at {seconds} s")
    moving = readings[:end]
    for a, b in zip(moving, moving[1:]):
        if (b[2] - a[2]) * (to - frm) < 0:
            fail(f"{what}: turned back between {a} and {b}")

    def expected(t):
        return frm + (to - frm) * min(max(t, 0.0), seconds) / seconds

    between = [r for r in moving if min(frm, to) + 3 < r[2] < max(frm, to) - 3]
    if len(between) < 10:
        fail(f"{what}: only {len(between)} readings on the way: {readings}")
    for t0, t1, volume, _ in between:
        low, high = sorted((expected(t0 - LAG), expected(t1)))
        if not low - 3 <= volume <= high + 3:
            fail(f"{what}: {volume} read between {t0:.2f} s and {t1:.2f} s, off the straight "
                 f"line ({low:.0f} .. {high:.0f})")
    print(f"ok: {what} ended between {readings[end - 1][0]:.2f} s and {readings[end][1]:.2f} s, "
          f"{len(between)} readings on the way")


def start_utility(only_down):
    card("programme", "tone", "-20", "1000")
    app = session.start("[Settings]\nSourceMode=1\nPID=7\nUseSoundCard=1\nUseMixer=1\n"
                        "[Soundcard]\nCard=Calvora Virtual Capture\nBitrate=48000\n"
                        "SilenceTime=1\nRestoreTime=0.5\nSilenceLevel=-40\nWait=3\n"
                        "[Mixer]\nDevice0=Calvora Virtual Mixer\nRoot0=0\nLine0=1\n"
                        f"Level0={LEVEL}\nOnlyDown={only_down}\nFadeOut={FADE_OUT}\n"
                        f"FadeIn={FADE_IN}\nWait={MIXER_WAIT}\n")
    # One audio line a second (every 100th block): few enough to load nothing, and audio lost
    # anywhere would stretch the time between two of them.
    return app, session.watch("--levels-every", "100")


def close_utility(app, watch):
    session.close(app)
    watch.proc.wait(timeout=5)


def silence_road(only_down):
    print(f"== OnlyDown={only_down}")
    # The line starts silent; the start with restore opens it and fades it in to its level.
    subprocess.run(["amixer", "-q", "-D", "calvora_mixer", "cset", "name=PCM Playback Volume", "0"],
                   env=env, check=True)
    subprocess.run(["amixer", "-q", "-D", "calvora_mixer", "cset", "name=PCM Playback Switch", "off"],
                   env=env, check=True)
    app, watch = start_utility(only_down)
    start = time.monotonic()
    command("run", "--restore")
    watch.wait_for(start, "NTF_ONLINE", 1, timeout=3)
    watch.wait_for(start, "NTF_ONLINE", 0, timeout=3)
    time.sleep(FADE_IN + 0.5)
    level, on = pcm()
    if level not in RAW_LEVELS or not on:
        fail(f"after the start with restore the line reads {level} {on}")

    # The programme goes silent; the controlling program hears of it and mutes.
    start = time.monotonic()
    card("programme", "silence")
    watch.wait_for(start, "NTF_SILENCE", 0, timeout=5)
    command("mute")
    readings = sample(FADE_OUT + 1.0)
    check_fade(readings, level, 0, FADE_OUT, lambda r: not r[3], "the mute's fade-out")
    final = pcm()
    if final != ((0, False) if only_down else (level, False)):
        fail(f"after the fade-out the line reads {final}")

    # The programme comes back; the restore fades the line in with its switch on.
    start = time.monotonic()
    card("programme", "tone", "-20", "1000")
    watch.wait_for(start, "NTF_SOUND", 0, timeout=5)
    command("unmute")
    readings = sample(FADE_IN + 1.0)
    if not all(on for _, _, _, on in readings):
        fail("the switch was not open all through the restore")
    check_fade(readings, 0, level, FADE_IN, lambda r: r[2] == level, "the restore's fade-in")
    if pcm() != (level, True):
        fail(f"after the restore the line reads {pcm()}")
    return app, watch, level


def vanishing(watch, level):
    print("== the mixer device vanishes and comes back")
    absent = os.path.join(env["CALVORA_VIRTUAL_CARD_DIR"], "mixer.absent")
    start = vanished = time.monotonic()
    # Unplugged as a card is: the handles opened before stay dead when it is back.
    with open(os.path.join(env["CALVORA_VIRTUAL_CARD_DIR"], "mixer.generation"), "w") as f:
        f.write("1\n")
    open(absent, "w").close()
    offline = watch.wait_for(start, "NTF_OFFLINE", 1, timeout=MIXER_WAIT + 3)[0]
    delay = offline["at"] - start
    if not MIXER_WAIT <= delay <= MIXER_WAIT + 2.0:  # noticed and drawn by 500 ms checks
        fail(f"mixer offline {delay:.2f} s after the device vanished")
    print(f"ok: NTF_OFFLINE 1 {delay:.2f} s after the mixer device vanished")
    # A mute meanwhile reaches no line, but the reopened line follows it: it fades out from
    # where the device left it.
    command("mute")
    start = time.monotonic()
    os.remove(absent)
    online = watch.wait_for(start, "NTF_ONLINE", 1, timeout=3)[0]
    readings = sample(FADE_OUT + 1.0, origin=online["at"])
    check_fade(readings, level, 0, FADE_OUT, lambda r: not r[3], "the reopened line's fade-out")
    if pcm() != (0, False):
        fail(f"the returned line is not muted as the last command asked: {pcm()}")
    # Meanwhile the device checks looked for the mixer every 500 ms, opened it again and faded
    # its line: the audio went on in real time, each line 100 blocks (1 s) after the last, so
    # that none was lost.
    lines = watch.since(vanished - 1.0, "AUDIO")
    if len(lines) < 5:
        fail(f"only {len(lines)} audio lines while the mixer came and went")
    span = lines[-1]["at"] - lines[0]["at"]
    if abs(span - (len(lines) - 1)) > 0.08:
        fail(f"{(len(lines) - 1) * 100} audio blocks took {span:.3f} s while the mixer came and "
             "went")
    print(f"ok: {(len(lines) - 1) * 100} audio blocks in {span:.3f} s while the mixer came and "
          "went")


with session:
    app, watch, _ = silence_road(0)
    close_utility(app, watch)
    app, watch, level = silence_road(1)
    vanishing(watch, level)
    close_utility(app, watch)
