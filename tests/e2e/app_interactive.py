#!/usr/bin/env python3
"""The real program in interactive mode, controlled by calvora-ctl on a private session bus
and capturing the virtual sound card: start, audio feed, silence and sound back, a vanishing
device, stop and goodbye.

Usage: app_interactive.py PROGRAM CALVORA_CTL VIRTUAL_CAPTURE_CTL VIRTUAL_CARD_CONF
"""
import sys
import time

from harness import Binaries, Session, interactive_settings

program, ctl, card_ctl, card_conf = sys.argv[1:5]
SILENCE_TIME, RESTORE_TIME, CARD_WAIT = 1.0, 0.5, 2


def first_audio(watch, start, predicate):
    for e in watch.since(start, "AUDIO"):
        if predicate(e):
            return e
    return None


def blocks_between(watch, first, last):
    """How many audio blocks arrived from `first` up to the event `last`."""
    with watch.lock:
        between = watch.events[watch.events.index(first):watch.events.index(last)]
    return sum(1 for e in between if e["code"] == "AUDIO")


def check_verdict(watch, first, verdict, seconds, what):
    """The verdict came after `seconds` of audio (100 blocks a second) since `first`, and
    about as long after it on the clock."""
    blocks = blocks_between(watch, first, verdict)
    delay = verdict["at"] - first["at"]
    if abs(blocks - seconds * 100) > 2:
        fail(f"{what} reported after {blocks} blocks")
    if abs(delay - seconds) > 0.1:
        fail(f"{what} reported {delay:.3f} s after it began")
    print(f"ok: {what} reported after {blocks} blocks, {delay:.3f} s")


with Session(Binaries(program, ctl, card_ctl, card_conf)) as session:
    fail, card, command = session.fail, session.card, session.command
    card("programme", "tone", "-20", "1000")
    app = session.start(interactive_settings(12, SILENCE_TIME, RESTORE_TIME, CARD_WAIT))

    # Hello and identify.
    if command("identify") != "12":
        fail("identify did not answer 12")
    watch = session.watch()
    if watch.since(0, "AUDIO"):
        fail("audio before the start command")

    # Start: online, then about 100 blocks a second with the programme's levels.
    start = time.monotonic()
    command("run")
    online = watch.wait_for(start, "NTF_ONLINE", 0, timeout=5)[0]
    time.sleep(3.0)
    blocks = [e for e in watch.since(online["at"] + 0.5, "AUDIO") if e["at"] < online["at"] + 2.5]
    if not 180 <= len(blocks) <= 220:
        fail(f"{len(blocks)} audio blocks in 2 s")
    for e in blocks:
        if (e["rate"], e["channels"], e["bits"], e["bytes"]) != (48000, 2, 16, 1920):
            fail(f"block header {e}")
        if abs(e["left"] + 20) > 0.2 or abs(e["right"] + 20) > 0.2:
            fail(f"levels {e['left']} {e['right']} for a -20 dB tone")
    print(f"ok: online, {len(blocks) / 2:.0f} blocks/s at -20 dB")

    # Silence, then sound back, each after its time of audio.
    start = time.monotonic()
    card("programme", "silence")
    silence = watch.wait_for(start, "NTF_SILENCE", 0, timeout=5)[0]
    first_silent = first_audio(watch, start, lambda e: e["left"] < -90 and e["right"] < -90)
    check_verdict(watch, first_silent, silence, SILENCE_TIME, "silence (NTF_SILENCE)")
    start = time.monotonic()
    card("programme", "tone", "-6", "440")
    sound = watch.wait_for(start, "NTF_SOUND", 0, timeout=5)[0]
    first_loud = first_audio(watch, start, lambda e: abs(e["left"] + 6) < 0.3)
    check_verdict(watch, first_loud, sound, RESTORE_TIME, "sound back (NTF_SOUND)")

    # The device vanishes: offline after the wait, every 500 ms; back when it is present.
    start = time.monotonic()
    card("vanish")
    offline = watch.wait_for(start, "NTF_OFFLINE", 0, timeout=CARD_WAIT + 3, count=4)
    first_delay = offline[0]["at"] - start
    if not CARD_WAIT - 0.1 <= first_delay <= CARD_WAIT + 1.0:
        fail(f"first offline notification {first_delay:.3f} s after the device vanished")
    gaps = [b["at"] - a["at"] for a, b in zip(offline, offline[1:4])]
    if any(abs(g - 0.51) > 0.1 for g in gaps):
        fail(f"offline notifications {gaps} apart")
    print(f"ok: NTF_OFFLINE {first_delay:.2f} s after vanishing, then every "
          f"{sum(gaps) / len(gaps):.3f} s")
    start = time.monotonic()
    card("present")
    watch.wait_for(start, "NTF_ONLINE", 0, timeout=3)
    time.sleep(0.3)
    if not watch.since(time.monotonic() - 0.2, "AUDIO"):
        fail("no audio after the device came back")
    print("ok: online again")

    # Stop ends the blocks.
    command("stop")
    stopped = time.monotonic()
    time.sleep(0.5)
    if watch.since(stopped + 0.05, "AUDIO"):
        fail("audio blocks after the stop")
    print("ok: stop ends the audio feed")

    # Closing says goodbye to every peer; the watch ends on it.
    session.close(app)
    if watch.proc.wait(timeout=5) != 0:
        fail("watch did not end cleanly on the goodbye")
    if not watch.wait_for(0, "WINMSG_CONTROL", 2, timeout=1):
        fail("no goodbye")
    print("ok: goodbye 0x7FFF0002 to the peer on closing")
