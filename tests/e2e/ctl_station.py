#!/usr/bin/env python3
"""calvora-ctl as a station's alarm peer, with the real utility on the virtual sound card and a
private session bus: `auto` runs --on-silence and --on-sound with the event in the environment
and keeps a text event log, while a slow silence command keeps running; `serve` keeps a JSON
event log and serves /metrics and /status, whose levels and loudness are checked against the
programme and against libebur128's own reading of the same programme rendered to a file.
A serve of its own asked for /listen by 64 listeners from one address feeds the 16 of
--listen-max one stream and tells the rest at once to come back later, and still analyses the
card's 100 blocks a second and answers a scrape within half a second.
Then the air is dead before the peers come: `serve` reports the silence within a second of
joining and `auto` mutes without restoring; `serve` outlives the utility's end and kill and
attaches to it again, serving its page throughout.

Usage: ctl_station.py PROGRAM CALVORA_CTL VIRTUAL_CAPTURE_CTL VIRTUAL_CARD_CONF
"""
import array
import glob
import json
import math
import os
import re
import selectors
import shutil
import signal
import socket
import sys
import threading
import time
import urllib.request

from harness import (Binaries, Peer, Session, interactive_settings, short_term_loudness,
                     write_wav)

RATE, LEVEL_DB, SLOW_SECONDS = 48000, -23.0, 5
ISO_TIME = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$")


def render_programme(path, seconds=1):
    """A 1 kHz sine at LEVEL_DB dBFS peak on both channels, a whole number of periods, so the
    virtual card plays it in a seamless loop."""
    amplitude = 32767 * 10 ** (LEVEL_DB / 20)
    samples = array.array("h")
    for n in range(RATE * seconds):
        value = round(amplitude * math.sin(2 * math.pi * 1000 * n / RATE))
        samples.extend((value, value))
    write_wav(path, samples, RATE)
    return samples


def read_env(path):
    with open(path) as f:
        return dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)


def listen_request(port, source):
    c = socket.create_connection(("127.0.0.1", port), timeout=10, source_address=(source, 0))
    c.sendall(b"GET /listen HTTP/1.1\r\nHost: x\r\n\r\n")
    return c


def crowd_of_listeners(session, count=64, cap=16, seconds=4):
    """`count` listeners from 127.0.0.2 ask for /listen from a serve with the default
    --listen-max: `cap` are fed one stream, the rest are told at once to come back later, and
    meanwhile the blocks analysed and the time of a scrape from 127.0.0.1 are measured."""
    crowded, port = session.serve()
    session.wait_until(lambda: session.metrics(port).get("calvora_audio_blocks_total", 0) > 50,
                       10, "the crowded serve analysed no blocks")
    asked = [listen_request(port, "127.0.0.2") for _ in range(count)]
    heads = {}  # the first bytes each got: the answer's head, then a listener's first pages
    for c in asked:
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = c.recv(4096)
            if not chunk:
                break
            data += chunk
        heads[c.fileno()] = data
    listeners = [c for c in asked if heads[c.fileno()].startswith(b"HTTP/1.1 200")]
    refused = [c for c in asked if heads[c.fileno()].startswith(b"HTTP/1.1 503") and
               b"\r\nretry-after: " in heads[c.fileno()].lower()]
    if len(listeners) != cap or len(refused) != count - cap:
        session.fail(f"{count} listeners past a cap of {cap}: {len(listeners)} fed, "
                     f"{len(refused)} told to come back later")
    for c in refused:
        c.close()
    received = {c.fileno(): 0 for c in listeners}
    stop = threading.Event()

    def read_all():
        with selectors.DefaultSelector() as selector:
            for c in listeners:
                selector.register(c, selectors.EVENT_READ)
            while not stop.is_set():
                for key, _ in selector.select(timeout=0.1):
                    try:
                        chunk = key.fileobj.recv(65536)
                    except OSError:
                        chunk = b""
                    if not chunk:
                        selector.unregister(key.fileobj)
                    fd = key.fileobj.fileno()
                    received[fd] += len(chunk)
                    if len(heads[fd]) < 4096:
                        heads[fd] += chunk[:4096]
    reader = threading.Thread(target=read_all, daemon=True)
    reader.start()
    session.wait_metric(port, "calvora_listeners", cap)

    start_bytes = dict(received)
    blocks0, t0 = session.metrics(port)["calvora_audio_blocks_total"], time.monotonic()
    scrapes = []
    while time.monotonic() - t0 < seconds:
        begun = time.monotonic()
        session.metrics(port)
        scrapes.append(time.monotonic() - begun)
        time.sleep(0.2)
    blocks1, t1 = session.metrics(port)["calvora_audio_blocks_total"], time.monotonic()
    stop.set()
    reader.join(timeout=5)
    rate = (blocks1 - blocks0) / (t1 - t0)
    fed = sorted(received[fd] - start_bytes[fd] for fd in received)
    for c in listeners:
        c.close()
    crowded.terminate()
    crowded.wait(timeout=10)
    if rate < 90 or max(scrapes) > 0.5:
        session.fail(f"{count} listeners asked: {rate:.1f} blocks/s analysed, scrapes up to "
                     f"{max(scrapes) * 1000:.0f} ms")
    # One stream for all: every listener's pages carry the same Ogg serial number (an encoder
    # of each listener's own would pick one of its own).
    serials = set()
    for fd in received:
        head = heads[fd]
        page = head.find(b"OggS")
        serials.add(head[page + 14:page + 18] if page >= 0 else None)
    if len(serials) != 1 or None in serials:
        session.fail(f"{cap} listeners got {len(serials)} streams (serial numbers {serials})")
    # 64 kbit/s is 8 kB a second: each listener was fed the programme the whole time.
    if fed[0] < 4000 * seconds:
        session.fail(f"the least fed of {cap} listeners got {fed[0]} bytes in {seconds} s")
    print(f"ok: {count} listeners asked, {cap} fed one stream ({fed[0]}-{fed[-1]} bytes each "
          f"in {seconds} s), {count - cap} got 503; {rate:.1f} blocks/s analysed, scrapes up to "
          f"{max(scrapes) * 1000:.0f} ms")


def main(session):
    work, card, fail = session.work, session.card, session.fail
    metrics, wait_metric = session.metrics, session.wait_metric
    programme = os.path.join(work, "programme.wav")
    samples = render_programme(programme)
    card("programme", "file", programme)
    app = session.start(interactive_settings(7, silence_time=1, restore_time=0.5, wait=3))

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
    ctl = session.bin.ctl
    station = Peer(session, [ctl, "auto", "--levels-every", "1", "--log", text_log,
                             "--on-silence", f"{record} {runs} 'two words' {SLOW_SECONDS}",
                             "--on-sound", f'{record} {runs} "quoted \\"word\\"" 0',
                             "--on-offline", f"{record} {runs} offline 0"], errors=True)
    server = Peer(session, [ctl, "serve", "--listen", "127.0.0.1:0", "--log", json_log, "--json"],
                  errors=True)
    port = int(re.search(r"127\.0\.0\.1:(\d+)/metrics", server.wait_for_line(
        lambda line: "serving http://" in line, "the serving line", stream="errors")).group(1))
    station.wait_for_line(lambda line: line.split()[1:] == ["NTF_ONLINE", "0"], "NTF_ONLINE 0")
    station.wait_for_line(lambda line: " AUDIO " in line, "an audio block")

    # The steady programme: levels and loudness.
    time.sleep(4.5)  # more than the 3 s short-term window
    m = metrics(port)
    if m["calvora_silence"] != 0 or m['calvora_device_online{device="card"}'] != 1:
        fail(f"before the silence: {m}")
    for channel in ("left", "right"):
        level = m[f'calvora_level_dbfs{{channel="{channel}"}}']
        if abs(level - LEVEL_DB) > 0.5:
            fail(f"{channel} level {level} dB, the programme is at {LEVEL_DB} dB")
    reference = short_term_loudness(samples, 4)
    short_term = m["calvora_loudness_short_term_lufs"]
    if abs(short_term - reference) > 0.2 or abs(reference - LEVEL_DB) > 0.2:
        fail(f"short-term loudness {short_term} LUFS, libebur128 reads the file as {reference}")
    if abs(m["calvora_loudness_momentary_lufs"] - reference) > 0.2:
        fail(f"momentary loudness {m['calvora_loudness_momentary_lufs']} LUFS")
    print(f"ok: levels {level:.2f} dB, short-term {short_term:.2f} LUFS, libebur128 on the "
          f"file {reference:.2f} LUFS")

    crowd_of_listeners(session)

    # The event log's folder vanishes; the next event makes it again.
    shutil.rmtree(os.path.join(work, "log"))

    # Silence: the command runs once with the event; it sleeps, and blocks keep coming.
    card("programme", "silence")
    wait_metric(port, "calvora_silence", 1)
    station.wait_for_line(lambda line: " NTF_SILENCE " in line, "NTF_SILENCE")
    deadline = time.monotonic() + 5
    while not glob.glob(os.path.join(runs, "silence.*[0-9]")) and time.monotonic() < deadline:
        time.sleep(0.05)
    blocks_before = metrics(port)["calvora_audio_blocks_total"]
    printed_before = len(station.texts())
    time.sleep(SLOW_SECONDS - 1)
    blocks_during = metrics(port)["calvora_audio_blocks_total"] - blocks_before
    printed = [line.split()[1] for line in station.texts()[printed_before:]]
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
    station.wait_for_line(lambda line: "sound:" in line and "exited with 3" in line,
                     "the sound command's end", stream="errors")
    station.wait_for_line(lambda line: "silence:" in line and "exited with 3" in line,
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
        station.wait_for_line(lambda line: words in line, f"the output line {words!r}",
                         stream="errors")
    m = metrics(port)
    if m['calvora_events_total{event="silence"}'] != 1 \
            or m['calvora_events_total{event="sound"}'] != 1:
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
    notices = sum(1 for line in station.texts() if line.split()[1:] == ["NTF_OFFLINE", "0"])
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

    session.close(app)


def status_of(port):
    return json.loads(urllib.request.urlopen(f"http://127.0.0.1:{port}/status",
                                             timeout=5).read())


def page_state(port):
    """The state the live page was served with."""
    page = urllib.request.urlopen(f"http://127.0.0.1:{port}/", timeout=5).read().decode()
    found = re.search(r'<script id="state" type="application/json">(.*?)</script>', page, re.S)
    return json.loads(found.group(1))["live"]


def joined_in_dead_air(session):
    work, card, fail = session.work, session.card, session.fail
    settings = interactive_settings(7, silence_time=1, restore_time=0.5, wait=3)
    ctl = session.bin.ctl
    card("present")
    card("programme", "silence")

    # serve with no utility: it serves, says so, and knows nothing of the air.
    server = Peer(session, [ctl, "serve", "--listen", "127.0.0.1:0"], errors=True)
    port = int(re.search(r"127\.0\.0\.1:(\d+)/metrics", server.wait_for_line(
        lambda line: "serving http://" in line, "the serving line", stream="errors")).group(1))
    server.wait_for_line(lambda line: "no Calvora Audio Mixer is running" in line,
                         "the word that there is no utility", stream="errors")
    m = session.metrics(port)
    if m["calvora_utility_up"] != 0 or not math.isnan(m["calvora_silence"]):
        fail(f"serve without a utility: {m}")
    status = status_of(port)
    if status["utility"] != "not running" or status["silence"] is not None:
        fail(f"/status without a utility: {status}")
    if page_state(port)["utility"] is not False:
        fail("the page does not say the utility is not running")
    server.proc.send_signal(signal.SIGTERM)
    if server.proc.wait(timeout=5) != 0:
        fail(f"serve ended with {server.proc.returncode} on SIGTERM")
    print("ok: serve without a utility serves and says it is not running")

    # The utility finds silence before any serve or auto is there.
    app = session.start(settings)
    watch = Peer(session, [ctl, "watch", "--levels-every", "1000000"])
    watch.wait_for_line(lambda line: "sent CMD_VERDICT 0 verdict=not started" in line,
                        "the answer before the start")
    session.command("run")
    watch.wait_for_line(lambda line: " NTF_SILENCE " in line, "NTF_SILENCE")
    watch.proc.send_signal(signal.SIGTERM)
    watch.proc.wait(timeout=5)

    clips, log = os.path.join(work, "dead-air-clips"), os.path.join(work, "dead-air-log")
    server = Peer(session, [ctl, "serve", "--listen", "127.0.0.1:0", "--clips", clips,
                            "--log", log], errors=True)
    started = time.monotonic()
    port = int(re.search(r"127\.0\.0\.1:(\d+)/metrics", server.wait_for_line(
        lambda line: "serving http://" in line, "the serving line", stream="errors")).group(1))
    session.wait_metric(port, "calvora_silence", 1, timeout=3)
    joined = time.monotonic() - started
    status = status_of(port)
    if joined > 1.5 or status["silence"] is not True or status["utility"] != "running":
        fail(f"serve joining a dead air: silence after {joined:.2f} s, status {status}")
    print(f"ok: serve joining a dead air reported it after {joined:.2f} s")

    auto = Peer(session, [ctl, "auto", "--levels-every", "1000000"])
    # auto answers the verdict in one step, the mute or the start with restore, so by its
    # mute every command it chose is printed.
    auto.wait_for_line(lambda line: "sent CMD_MUTE 0" in line, "auto's mute")
    sent = [line.split(None, 2)[2] for line in auto.texts() if " sent " in line]
    if sent != ["CMD_VERDICT 0 verdict=silence", "CMD_MUTE 0"]:
        fail(f"auto joining a dead air sent {sent}")
    auto.proc.send_signal(signal.SIGTERM)
    auto.proc.wait(timeout=5)
    print("ok: auto joining a dead air muted and restored nothing")

    # The utility closes: serve stays, says so and when, and serves its page.
    session.close(app)
    session.wait_metric(port, "calvora_utility_up", 0, timeout=3)
    server.wait_for_line(lambda line: re.search(r"\) ended \(goodbye at \d{4}-", line),
                         "the goodbye", stream="errors")
    if not math.isnan(session.metrics(port)["calvora_silence"]) or \
            status_of(port)["utility"] != "not running" or page_state(port)["utility"]:
        fail("serve still tells the air after the utility closed")

    # It comes back, and is killed: serve attaches again, then tells it gone.
    app = session.start(settings)
    session.wait_metric(port, "calvora_utility_up", 1, timeout=4)
    session.command("run")
    session.wait_metric(port, "calvora_silence", 1, timeout=5)
    silence_at = time.monotonic()
    app.kill()
    app.wait(timeout=5)
    session.wait_metric(port, "calvora_utility_up", 0, timeout=4)
    server.wait_for_line(lambda line: "has gone without a goodbye" in line, "the window gone",
                         stream="errors")
    # The silence's clip was due 10 s after it; the utility's leaving writes it at once, with
    # the audio there is, so the log never names a clip that is not there.
    named = [line.split("clip=", 1)[1].strip() for path in glob.glob(os.path.join(log, "*.log"))
             for line in open(path) if "clip=" in line]
    if not named:
        fail("serve's log names no clip of the silence")
    session.wait_until(lambda: all(os.path.isfile(p) for p in named), 3,
                       f"the clips named ({named}) written when the utility went")
    if time.monotonic() - silence_at >= 10:
        fail("the clip came only when it was due, not when the utility went")
    if server.proc.poll() is not None or page_state(port)["utility"]:
        fail("serve did not outlive the utility")
    server.proc.send_signal(signal.SIGTERM)
    if server.proc.wait(timeout=5) != 0:
        fail(f"serve ended with {server.proc.returncode} on SIGTERM")
    print("ok: serve outlived the utility's end and kill (utility_up 1, 0, 1, 0):",
          [line for line in server.texts("errors") if "utility" in line])


with Session(Binaries(*sys.argv[1:5]), prefix="calvora-e2e-station-") as session:
    main(session)
    joined_in_dead_air(session)
