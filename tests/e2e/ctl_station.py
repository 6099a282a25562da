#!/usr/bin/env python3
"""calvora-ctl as a station's alarm peer, with the real utility on the virtual sound card and a
private session bus: `auto` runs --on-silence and --on-sound with the event in the environment
and keeps a text event log, while a slow silence command keeps running; `serve` keeps a JSON
event log and serves /metrics and /status, whose levels and loudness are checked against the
programme and against libebur128's own reading of the same programme rendered to a file.

Usage: ctl_station.py PROGRAM CALVORA_CTL VIRTUAL_CAPTURE_CTL VIRTUAL_CARD_CONF
"""
import array
import ctypes
import glob
import json
import math
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request
import wave

program, ctl, card_ctl, card_conf = sys.argv[1:5]
RATE, LEVEL_DB, SLOW_SECONDS = 48000, -23.0, 5

work = tempfile.mkdtemp(prefix="calvora-e2e-station-")
env = dict(os.environ,
           QT_QPA_PLATFORM="offscreen",
           ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:" + card_conf,
           CALVORA_VIRTUAL_CARD_DIR=os.path.join(work, "card"),
           XDG_CONFIG_HOME=os.path.join(work, "config"),
           XDG_CONFIG_DIRS=os.path.join(work, "xdg"))
os.makedirs(env["CALVORA_VIRTUAL_CARD_DIR"])
children = []
ISO_TIME = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$")


def fail(text):
    print("FAIL:", text, file=sys.stderr)
    for name in ("out.log",):
        with open(os.path.join(work, name), errors="replace") as log:
            sys.stderr.write(log.read()[-3000:])
    for peer in Peer.all:
        sys.stderr.write("".join(peer.errors[-40:]))
    sys.exit(1)


def card(*args):
    subprocess.run([card_ctl, *args], env=env, check=True)


def render_programme(path, seconds=1):
    """A 1 kHz sine at LEVEL_DB dBFS peak on both channels, a whole number of periods, so the
    virtual card plays it in a seamless loop."""
    amplitude = 32767 * 10 ** (LEVEL_DB / 20)
    samples = array.array("h")
    for n in range(RATE * seconds):
        value = round(amplitude * math.sin(2 * math.pi * 1000 * n / RATE))
        samples.extend((value, value))
    with wave.open(path, "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(samples.tobytes())
    return samples


def reference_loudness(samples, seconds=4):
    """libebur128's own short-term loudness of the programme, read from the rendered samples."""
    lib = ctypes.CDLL("libebur128.so.1")
    lib.ebur128_init.restype = ctypes.c_void_p
    lib.ebur128_init.argtypes = [ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
    lib.ebur128_add_frames_short.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t]
    lib.ebur128_loudness_shortterm.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_double)]
    lib.ebur128_destroy.argtypes = [ctypes.POINTER(ctypes.c_void_p)]
    state = ctypes.c_void_p(lib.ebur128_init(2, RATE, 3))  # EBUR128_MODE_S
    frames = len(samples) // 2
    for _ in range(seconds):
        buffer = (ctypes.c_short * len(samples)).from_buffer_copy(samples)
        lib.ebur128_add_frames_short(state, buffer, frames)
    loudness = ctypes.c_double()
    lib.ebur128_loudness_shortterm(state, ctypes.byref(loudness))
    lib.ebur128_destroy(ctypes.byref(state))
    return loudness.value


class Peer:
    """A calvora-ctl peer: its stdout lines and its stderr lines, as they arrive."""
    all = []

    def __init__(self, *args):
        self.lines, self.errors = [], []
        self.lock = threading.Lock()
        self.proc = subprocess.Popen([ctl, *args], env=env, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        children.append(self.proc)
        Peer.all.append(self)
        threading.Thread(target=self._read, args=(self.proc.stdout, self.lines),
                         daemon=True).start()
        threading.Thread(target=self._read, args=(self.proc.stderr, self.errors),
                         daemon=True).start()

    def _read(self, stream, into):
        for line in stream:
            with self.lock:
                into.append(line)

    def wait_for(self, predicate, what, timeout=10.0, stream="lines"):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with self.lock:
                found = [line for line in getattr(self, stream) if predicate(line)]
            if found:
                return found[0]
            if self.proc.poll() is not None:
                fail(f"calvora-ctl ended ({self.proc.returncode}) waiting for {what}")
            time.sleep(0.02)
        fail(f"no {what} within {timeout} s")


def metrics(port):
    """The samples by name and labels; every sample must name the station, which serve without
    --station calls by this machine's host name, and that label is left out of the names."""
    text = urllib.request.urlopen(f"http://127.0.0.1:{port}/metrics", timeout=5).read().decode()
    station = f'station="{socket.gethostname()}"'
    values = {}
    for line in text.splitlines():
        if line and not line.startswith("#"):
            name, value = line.rsplit(" ", 1)
            if "{" + station not in name:
                fail(f"a sample without {station}: {line}")
            name = name.replace("{" + station + "}", "").replace(station + ",", "")
            values[name] = float(value)
    return values


def wait_metric(port, name, value, timeout=8.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        got = metrics(port)
        if got.get(name) == value:
            return got
        time.sleep(0.1)
    fail(f"{name} never read {value}: {got}")


def read_env(path):
    with open(path) as f:
        return dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)


def main():
    shutil.copy(program, os.path.join(work, "calvora-audio-mixer"))
    with open(os.path.join(work, "calvora-audio-mixer.ini"), "w") as ini:
        ini.write("[Settings]\nSourceMode=1\nPID=7\nUseSoundCard=1\nUseMixer=0\n"
                  "[Soundcard]\nCard=Calvora Virtual Capture\nBitrate=48000\n"
                  "SilenceTime=1\nRestoreTime=0.5\nSilenceLevel=-40\nWait=3\n")
    programme = os.path.join(work, "programme.wav")
    samples = render_programme(programme)
    card("programme", "file", programme)
    log = open(os.path.join(work, "out.log"), "w")
    app = subprocess.Popen([os.path.join(work, "calvora-audio-mixer")], env=env, stdout=log,
                           stderr=subprocess.STDOUT)
    children.append(app)
    for _ in range(100):
        if subprocess.run([ctl, "list"], env=env, capture_output=True, text=True).stdout.strip():
            break
        time.sleep(0.1)
    else:
        fail("the window never appeared on the bus")

    # The commands write their environment to a file per run, and the silence command then
    # takes its time, as a pager on a slow network might.
    runs = os.path.join(work, "runs")
    os.makedirs(runs)
    record = os.path.join(work, "record.sh")
    with open(record, "w") as script:
        script.write('#!/bin/sh\nf="$1/$CALVORA_EVENT.$$"\nenv | grep ^CALVORA_ > "$f.tmp"\n'
                     'echo "arguments: $2"\nmv "$f.tmp" "$f"\nsleep "$3"\nexit 3\n')
    os.chmod(record, 0o755)
    text_log, json_log = os.path.join(work, "log", "text"), os.path.join(work, "log", "json")
    station = Peer("auto", "--levels-every", "1", "--log", text_log,
                   "--on-silence", f"{record} {runs} 'two words' {SLOW_SECONDS}",
                   "--on-sound", f'{record} {runs} "quoted \\"word\\"" 0',
                   "--on-offline", f"{record} {runs} offline 0")
    server = Peer("serve", "--listen", "127.0.0.1:0", "--log", json_log, "--json")
    port = int(re.search(r"127\.0\.0\.1:(\d+)/metrics", server.wait_for(
        lambda line: "serving http://" in line, "the serving line", stream="errors")).group(1))
    station.wait_for(lambda line: line.split()[1:] == ["NTF_ONLINE", "0"], "NTF_ONLINE 0")
    station.wait_for(lambda line: " AUDIO " in line, "an audio block")

    # The steady programme: levels and loudness.
    time.sleep(4.5)  # more than the 3 s short-term window
    m = metrics(port)
    if m["calvora_silence"] != 0 or m['calvora_device_online{device="card"}'] != 1:
        fail(f"before the silence: {m}")
    for channel in ("left", "right"):
        level = m[f'calvora_level_db{{channel="{channel}"}}']
        if abs(level - LEVEL_DB) > 0.5:
            fail(f"{channel} level {level} dB, the programme is at {LEVEL_DB} dB")
    reference = reference_loudness(samples)
    short_term = m["calvora_loudness_short_term_lufs"]
    if abs(short_term - reference) > 0.2 or abs(reference - LEVEL_DB) > 0.2:
        fail(f"short-term loudness {short_term} LUFS, libebur128 reads the file as {reference}")
    if abs(m["calvora_loudness_momentary_lufs"] - reference) > 0.2:
        fail(f"momentary loudness {m['calvora_loudness_momentary_lufs']} LUFS")
    print(f"ok: levels {level:.2f} dB, short-term {short_term:.2f} LUFS, libebur128 on the "
          f"file {reference:.2f} LUFS")

    # The event log's folder vanishes; the next event makes it again.
    shutil.rmtree(os.path.join(work, "log"))

    # Silence: the command runs once with the event; it sleeps, and blocks keep coming.
    card("programme", "silence")
    wait_metric(port, "calvora_silence", 1)
    station.wait_for(lambda line: " NTF_SILENCE " in line, "NTF_SILENCE")
    deadline = time.monotonic() + 5
    while not glob.glob(os.path.join(runs, "silence.*[0-9]")) and time.monotonic() < deadline:
        time.sleep(0.05)
    blocks_before = metrics(port)["calvora_audio_blocks_total"]
    with station.lock:
        printed_before = len(station.lines)
    time.sleep(SLOW_SECONDS - 1)
    blocks_during = metrics(port)["calvora_audio_blocks_total"] - blocks_before
    with station.lock:
        printed = [line.split()[1] for line in station.lines[printed_before:]]
    audio = printed.count("AUDIO")
    if station.proc.poll() is not None or "WINMSG_CONTROL" in printed:
        fail("the peer left while its silence command ran")
    if audio < 200 or blocks_during < 200:
        fail(f"only {audio} blocks to the peer and {blocks_during} to the server in "
             f"{SLOW_SECONDS - 1} s while the command ran")
    print(f"ok: {audio} blocks in {SLOW_SECONDS - 1} s while the silence command slept")

    # Sound back: its own command runs at once, though the silence command still sleeps.
    card("programme", "file", programme)
    wait_metric(port, "calvora_silence", 0)
    station.wait_for(lambda line: "sound:" in line and "exited with 3" in line,
                     "the sound command's end", stream="errors")
    station.wait_for(lambda line: "silence:" in line and "exited with 3" in line,
                     "the silence command's end", timeout=SLOW_SECONDS + 2, stream="errors")
    silences = glob.glob(os.path.join(runs, "silence.*[0-9]"))
    sounds = glob.glob(os.path.join(runs, "sound.*[0-9]"))
    if len(silences) != 1 or len(sounds) != 1:
        fail(f"runs: {os.listdir(runs)}")
    for path, event in ((silences[0], "silence"), (sounds[0], "sound")):
        got = read_env(path)
        if got.get("CALVORA_EVENT") != event or got.get("CALVORA_DEVICE") != "card" or \
                not ISO_TIME.match(got.get("CALVORA_TIME", "")):
            fail(f"the {event} command's environment: {got}")
        left = float(got["CALVORA_LEFT_DB"])
        expected = -90.3 if event == "silence" else LEVEL_DB
        if abs(left - expected) > 0.5:
            fail(f"the {event} command saw the level {left} dB")
    for words in ("arguments: two words", 'arguments: quoted "word"'):
        station.wait_for(lambda line: words in line, f"the output line {words!r}",
                         stream="errors")
    m = metrics(port)
    if m["calvora_silences_total"] != 1 or m["calvora_sound_backs_total"] != 1:
        fail(f"counts: {m}")
    status = json.loads(urllib.request.urlopen(f"http://127.0.0.1:{port}/status",
                                               timeout=5).read())
    if status["silence"] or status["lastVerdict"]["event"] != "sound" or \
            status["online"]["card"] is not True:
        fail(f"status: {status}")
    print("ok: the silence and sound commands ran once each with their events")

    # The card goes away: the utility says so on every check, the command runs once.
    card("vanish")
    wait_metric(port, 'calvora_device_online{device="card"}', 0, timeout=10)
    time.sleep(2)  # more checks, each with its offline notice
    offline = glob.glob(os.path.join(runs, "offline.*[0-9]"))
    with station.lock:
        notices = sum(1 for line in station.lines if line.split()[1:] == ["NTF_OFFLINE", "0"])
    if len(offline) != 1 or notices < 2 or read_env(offline[0]).get("CALVORA_DEVICE") != "card":
        fail(f"offline: {notices} notices, runs {os.listdir(runs)}")
    print(f"ok: {notices} offline notices ran the offline command once")

    for peer in (station, server):
        peer.proc.send_signal(signal.SIGTERM)
        if peer.proc.wait(timeout=10) != 0:
            fail(f"calvora-ctl ended with {peer.proc.returncode}")

    # The logs: one line per event; the online line went with the folder, the others are
    # in the folder made again.
    text_lines = [line for path in sorted(glob.glob(os.path.join(text_log, "*.log")))
                  for line in open(path).read().splitlines()]
    pattern = re.compile(r"^(\S+) (silence|sound|offline) card left=(-?\d+\.\d\d) "
                         r"right=(-?\d+\.\d\d)$")
    matches = [pattern.match(line) for line in text_lines]
    if [m.group(2) if m else None for m in matches] != ["silence", "sound", "offline"] or \
            not all(ISO_TIME.match(m.group(1)) for m in matches):
        fail(f"the text log: {text_lines}")
    json_lines = [json.loads(line) for path in sorted(glob.glob(os.path.join(json_log, "*.log")))
                  for line in open(path).read().splitlines()]
    if [(e["event"], e["device"]) for e in json_lines] != \
            [("silence", "card"), ("sound", "card"), ("offline", "card")]:
        fail(f"the JSON log: {json_lines}")
    if any(os.path.basename(p)[:-4] != json_lines[0]["time"][:10]
           for p in glob.glob(os.path.join(json_log, "*.log"))):
        fail("the log file is not named by the event's date")
    print("ok: the logs hold one line per event:", text_lines)

    app.send_signal(signal.SIGTERM)
    if app.wait(timeout=10) != 0:
        fail("the utility ended badly after SIGTERM")


try:
    main()
finally:
    for child in children:
        if child.poll() is None:
            child.kill()
    shutil.rmtree(work, ignore_errors=True)
