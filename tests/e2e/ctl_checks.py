#!/usr/bin/env python3
"""The checks of calvora-ctl on the real utility and the virtual sound card, which plays a
generated programme from a WAV file: a lost right channel, an inverted channel, a clipped tone,
a DC step on the left channel and wide stereo 13 LU below the loudness target, one after the
other. The wide stereo (correlation 0) must raise no phase event.
Each event must reach `watch` at its second of the programme (within a slice of 100 ms, the
window the check reads, and the way through the card, the utility and the bus); `serve` logs
the same events, runs the command of one with the event in its environment, and its true peak
of the file agrees with libebur128's reading of the same file. Its /listen, decoded by ffmpeg,
holds the programme at its level; each event's clip (--clips) is named by the log and the
command, and the clipping's clip reaches back over the check's window: the clipped tone starts
within 100 ms of its 13 s mark (the window of 3 s and 10 s before). serve is ended a few seconds
after the last event, before its clip is due: the clip is written all the same, and plays.
A --log or --clips folder that cannot be written ends serve at once with status 1.

Usage: ctl_checks.py PROGRAM CALVORA_CTL VIRTUAL_CAPTURE_CTL VIRTUAL_CARD_CONF
"""
import array
import glob
import json
import math
import os
import subprocess
import sys
import threading
import time
import urllib.request

from harness import (Binaries, Session, decode_ogg, interactive_settings, rms_db, true_peaks,
                     write_wav)

RATE = 48000
# Shorter times than a station's, so that the programme lasts half a minute.
OPTIONS = ["--channel-for", "3", "--phase-for", "2", "--clip-window", "3",
           "--loudness-for", "5", "--back-for", "1"]
LATENCY = 0.6  # the card's period, the utility's block and the bus, with room for a busy machine


def programme_sample(t):
    """The programme (left, right) at t seconds, in parts of full scale."""
    def tone(db, hz=1000, phase=0.0):
        return 10 ** (db / 20) * math.sin(2 * math.pi * hz * t + phase)
    if t < 2:    # on target, and a quarter of the rate at 45 degrees: peaks between the samples
        s = tone(-23) + 0.3 * math.sin(2 * math.pi * RATE / 4 * t + math.pi / 4)
        return s, s
    if t < 8:    # the right channel lost
        return tone(-23), 0.0
    if t < 14:   # the right channel inverted
        s = tone(-23, 440) + tone(-30, 1500)
        return s, -s
    if t < 15:   # a tone driven 6 dB over full scale
        s = tone(6)
        return s, s
    if t < 24:   # the left channel stuck at a quarter of full scale
        return 0.25, tone(-23)
    # 13 LU below the target, wide: the right channel a quarter period behind
    return tone(-36), tone(-36, phase=-math.pi / 2)


# (event, channel, second of the programme when due, window the check reads)
DUE = [("channel-lost", "right", 2 + 3, 0), ("channel-back", "right", 8 + 1, 0),
       ("phase-reversed", None, 8 + 2, 0.4), ("phase-normal", None, 14 + 1, 0.4),
       ("clipping", None, 14, 0), ("clipping-end", None, 15 + 3, 0),
       ("channel-lost", "left", 15 + 3, 0), ("channel-back", "left", 24 + 1, 0),
       ("loudness-off", None, 24 + 5, 3)]
SECONDS = 34


def render(path):
    samples = array.array("h")
    for n in range(RATE * 36):
        for value in programme_sample(n / RATE):
            samples.append(max(-32768, min(32767, round(value * 32767))))
    write_wav(path, samples, RATE)
    return samples


def main(program, ctl, card_ctl, card_conf):
    with Session(Binaries(program, ctl, card_ctl, card_conf), prefix="calvora-e2e-checks-") as s:
        # A folder that cannot be made (a file stands in its way) is found at the start.
        in_the_way = os.path.join(s.work, "in-the-way")
        open(in_the_way, "w").close()
        for option in ("--log", "--clips"):
            refused = subprocess.run([*s.launch, s.bin.ctl, "serve", "--listen", "127.0.0.1:0",
                                      option, os.path.join(in_the_way, "folder")], env=s.env,
                                     capture_output=True, text=True, timeout=10)
            if refused.returncode != 1 or f"{option} {in_the_way}" not in refused.stderr:
                s.fail(f"serve {option} under a file: {refused.returncode} {refused.stderr!r}")
        print("ok: --log and --clips folders that cannot be used end serve with status 1")
        wav = os.path.join(s.work, "programme.wav")
        samples = render(wav)
        s.card("programme", "silence")
        app = s.start(interactive_settings(7, silence_time=60, restore_time=0.5, wait=3))
        runs, log = os.path.join(s.work, "runs"), os.path.join(s.work, "log")
        os.makedirs(runs)
        clips = os.path.join(s.work, "clips")
        serve, port = s.serve("--station", "checks", "--log", log, "--json", *OPTIONS,
                              "--clips", clips,
                              "--shell", "--on-channel-lost",
                              f'env | grep ^CALVORA_ > {runs}/$CALVORA_CHANNEL.$$')
        watch = s.watch(*OPTIONS)
        s.command("run")
        watch.wait_for(time.monotonic() - 5, "AUDIO")
        time.sleep(1)
        start = time.monotonic()
        s.card("programme", "file", wav)
        # A listener from the programme's 16th second: the right channel's tone at -23 dBFS.
        listened = {}
        time.sleep(16)
        listener = threading.Thread(target=lambda: listened.update(
            samples=decode_ogg(f"http://127.0.0.1:{port}/listen", seconds=3)))
        listener.start()
        time.sleep(SECONDS - 16)
        listener.join(timeout=10)

        heard = [(e["event"], e.get("channel"), e["at"] - start, e["value"])
                 for e in watch.since(start, "EVENT")]
        print("heard:", [(e, c, round(t, 2)) for e, c, t, _ in heard])
        if sorted((e, c or "") for e, c, _, _ in heard) != \
                sorted((e, c or "") for e, c, _, _ in DUE):
            s.fail(f"events {heard}, expected {DUE}")
        for event, channel, due, window in DUE:
            at = next(t for e, c, t, _ in heard if (e, c) == (event, channel))
            # A slice that the change falls into counts whole: a return can come a slice early.
            if not due - 0.15 <= at <= due + 0.1 + window + LATENCY:
                s.fail(f"{event} {channel or ''} at {at:.2f} s, due at {due} s")
        print(f"ok: {len(DUE)} events at their seconds of the programme")

        m = s.metrics(port, "checks")
        reference = true_peaks(samples)
        for i, channel in enumerate(("left", "right")):
            got = m[f'calvora_true_peak_max_dbtp{{channel="{channel}"}}']
            if abs(got - reference[i]) > 0.05:
                s.fail(f"true peak {channel} {got} dBTP, libebur128 reads the file as "
                       f"{reference[i]}")
        if m['calvora_channel_lost{channel="left"}'] != 0 or m["calvora_loudness_off_target"] != 1 \
                or m['calvora_events_total{event="clipping"}'] != 1 \
                or m['calvora_clipping_runs_total{channel="left"}'] < 1900:
            s.fail(f"metrics: {m}")
        print(f"ok: true peak {reference} dBTP as libebur128 reads the file; metrics agree")

        # /listen at the programme's level: the right channel from 17 s to 19 s of the programme.
        expected = rms_db(samples, 1, 17, 19)
        level = rms_db(listened["samples"], 1, 1, 3)
        print(f"ok: ffmpeg reads /listen at {level:.2f} dBFS RMS, the programme {expected:.2f}")
        if abs(level - expected) > 1:
            s.fail(f"/listen at {level:.2f} dBFS RMS, the programme at {expected:.2f}")
        # The clipping's clip: its 13 s mark (the clip window and 10 s) is the event's moment,
        # which the check decides at the end of its 100 ms slice (and its 10 ms block): the
        # clipped tone starts that much before the mark, never after it. The programme's level
        # before it.
        clipped = glob.glob(os.path.join(clips, "*", "*-clipping.opus"))
        if len(clipped) != 1:
            s.fail(f"clips: {glob.glob(os.path.join(clips, '*', '*'))}")
        clip = decode_ogg(clipped[0])
        onset = next(i for i in range(0, len(clip), 2) if abs(clip[i]) > 0.9 * 32768) / 2 / RATE
        level, expected = rms_db(clip, 0, 4, 6), rms_db(samples, 0, 5, 7)
        print(f"ok: the clipping's clip: the clipped tone at {onset:.3f} s, "
              f"the left channel before it at {level:.2f} dBFS (the programme {expected:.2f})")
        if not -0.12 <= onset - 13 <= 0.02 or abs(level - expected) > 1:
            s.fail(f"the clipping's clip: onset {onset:.3f} s, level {level:.2f} dBFS")
        if m["calvora_clips_written_total"] < 4:
            s.fail(f"clips written: {m['calvora_clips_written_total']}")

        # The live exposition as Prometheus's own checker reads it (names, types, help).
        text = urllib.request.urlopen(f"http://127.0.0.1:{port}/metrics", timeout=5).read()
        lint = subprocess.run(["promtool", "check", "metrics"], input=text, capture_output=True)
        if lint.returncode != 0 or b"calvora_events_total" not in text:
            s.fail(f"promtool check metrics ({lint.returncode}): {lint.stdout!r} {lint.stderr!r}")
        print("ok: promtool check metrics passes on the live /metrics")

        # Ended before the last event's clip is due (10 s after it): it is written all the
        # same, with the audio there is, and every clip the log names is there and plays.
        last_event = max(t for _, _, t, _ in heard)
        serve.terminate()
        ended = time.monotonic() - start
        if serve.wait(timeout=10) != 0:
            s.fail(f"serve ended with {serve.returncode} on SIGTERM")
        if ended - last_event > 8:
            s.fail(f"serve ended {ended - last_event:.1f} s after the last event: its clip was due")
        lines = [json.loads(line) for path in glob.glob(os.path.join(log, "*.log"))
                 for line in open(path)]
        for line in lines:
            if line["event"] == "online":
                continue
            probe = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration",
                                    "-of", "csv=p=0", line.get("clip", "")],
                                   capture_output=True, text=True)
            if probe.returncode != 0 or not probe.stdout.strip():
                s.fail(f"the clip of {line['event']} at {line.get('time')} does not play: "
                       f"{line.get('clip')} {probe.stderr!r}")
        loud = next(line for line in lines if line["event"] == "loudness-off")
        print(f"ok: serve ended {ended - last_event:.1f} s after the last event; the clip of "
              f"each logged event plays, the last one's too: {os.path.basename(loud['clip'])}")
        logged = [line["event"] for line in lines]
        clipping = next(line for line in lines if line["event"] == "clipping")
        if os.path.realpath(clipping.get("clip", "")) != os.path.realpath(clipped[0]):
            s.fail(f"the log names the clip {clipping.get('clip')}, written {clipped[0]}")
        logged.remove("online")  # the sound card's, as the utility told it
        if sorted(logged) != sorted(e for e, _, _, _ in DUE):
            s.fail(f"the log: {logged}")
        commands = {os.path.basename(p).split(".")[0]: dict(
            line.strip().split("=", 1) for line in open(p)) for p in glob.glob(runs + "/*")}
        if sorted(commands) != ["left", "right"] or \
                commands["right"]["CALVORA_EVENT"] != "channel-lost" or \
                float(commands["right"]["CALVORA_VALUE"]) > -80 or \
                not commands["right"]["CALVORA_CLIP"].endswith("-channel-lost.opus"):
            s.fail(f"the commands: {commands}")
        print("ok: the log and the channel-lost commands:", logged)
        s.close(app)


if __name__ == "__main__":
    main(*sys.argv[1:5])
