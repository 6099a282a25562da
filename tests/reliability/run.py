#!/usr/bin/env python3
"""The reliability runs, each printing what it tried and what held, and failing when something
did not hold.

    run.py RUN [--long] --build-dir BUILD --source-dir SOURCE

RUN is one of settings_saves, hostile_bus, device_cycles, mixer_cycles, peers, serve_attacks,
fuzz_settings.
ctest runs the short forms; tests/reliability/run-long runs every long form.
"""
import argparse
import os
import random
import signal
import subprocess
import sys
import threading
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # nothing compiled is left in the source tree
sys.path.insert(0, os.path.join(here, "..", "support", "python"))
import harness  # noqa: E402
import serve_attacks as attacks  # noqa: E402


def settings_saves(bin, long):
    kills = 200 if long else 40
    subprocess.run([sys.executable, os.path.join(here, "settings_saves.py"),
                    bin.tool("tests/reliability/reliability-save-writer"), str(kills)], check=True)


def running(session, watch_levels=1, **settings):
    session.card("programme", "tone", "-20", "1000")
    session.start(harness.interactive_settings(**settings))
    watch = harness.Watch(session, "--levels-every", str(watch_levels), keep_audio=False)
    time.sleep(0.5)
    session.command("run")
    if not watch.wait_for(0, "NTF_ONLINE", timeout=5, required=False):
        session.fail("the program did not come online")
    return watch


def block_rate(watch, seconds):
    before, t0 = watch.blocks(), time.monotonic()
    time.sleep(seconds)
    return (watch.blocks() - before) / (time.monotonic() - t0)


def hostile_bus(bin, long):
    flood = 2000 if long else 200
    with harness.Session(bin, prefix="calvora-rel-") as s:
        watch = running(s)
        name = f"org.calvora.Window.TCV_AudioMixer.H{s.window_handle()}"
        result = subprocess.run([bin.tool("tests/reliability/reliability-hostile-peer"), name, "1",
                                 str(flood)], env=s.env, timeout=600)
        if result.returncode != 0 or s.app.poll() is not None:
            s.fail("the program did not stay responsive to hostile messages")
        # The codes included stop: start again, and the watching peer still gets every block.
        s.command("run")
        time.sleep(1.0)
        rate = block_rate(watch, 3.0)
        if rate < 90:
            s.fail(f"the watching peer gets {rate:.0f} blocks/s after the hostile messages")
        late = harness.Watch(s, keep_audio=False)
        time.sleep(1.0)
        if block_rate(late, 2.0) < 90:
            s.fail("a peer announced after the flood does not get the audio")
        print(f"ok: after it all the watching peer gets {rate:.0f} blocks/s and a new peer is "
              "admitted and fed")


def device_cycles(bin, long):
    cycles = 20 if long else 5
    with harness.Session(bin, prefix="calvora-rel-") as s:
        watch = running(s, wait=0)
        for cycle in range(1, cycles + 1):
            start = time.monotonic()
            s.card("vanish")
            if not watch.wait_for(start, "NTF_OFFLINE", timeout=5, required=False):
                s.fail(f"cycle {cycle}: no NTF_OFFLINE after the capture device vanished")
            back = time.monotonic()
            s.card("present")
            if not watch.wait_for(back, "NTF_ONLINE", timeout=5, required=False):
                s.fail(f"cycle {cycle}: not online again after the device returned")
            time.sleep(0.3)
            if not watch.blocks():
                s.fail(f"cycle {cycle}: no audio after the device returned")
            # The utility's notifications, without the blocks and the question of the air that
            # watch asks when the card is online again.
            events = [(e["code"], e.get("argument")) for e in watch.since(start)
                      if e["code"] not in ("AUDIO", None)]
            offline = [e for e in events if e == ("NTF_OFFLINE", 0)]
            if events[-1] != ("NTF_ONLINE", 0) or len(offline) != len(events) - 1:
                s.fail(f"cycle {cycle}: notifications out of order: {events}")
        rate = block_rate(watch, 2.0)
        if rate < 90:
            s.fail(f"{rate:.0f} blocks/s after the cycles")
        print(f"ok: the capture device vanished and returned {cycles} times: every cycle "
              f"reported NTF_OFFLINE, then NTF_ONLINE last, and ends with {rate:.0f} blocks/s")


def mixer_cycles(bin, long):
    cycles = 20 if long else 5
    with harness.Session(bin, prefix="calvora-rel-") as s:
        s.card("programme", "tone", "-20", "1000")
        present = os.path.join(s.env["CALVORA_VIRTUAL_CARD_DIR"], "mixer2.present")
        open(present, "w").close()
        settings = harness.interactive_settings(mixer=True).replace(
            "Calvora Virtual Mixer", "Calvora Virtual Mixer 2")
        s.start(settings)
        watch = harness.Watch(s, "--levels-every", "1000000", keep_audio=False)
        time.sleep(0.5)
        s.command("run")
        if not watch.wait_for(0, "NTF_ONLINE", timeout=5, count=2, required=False):
            s.fail("the program did not bring both devices online")
        for cycle in range(1, cycles + 1):
            start = time.monotonic()
            os.remove(present)
            gone = watch.wait_for(start, "NTF_OFFLINE", timeout=5, required=False) or []
            if not [e for e in gone if e.get("argument") == 1]:
                s.fail(f"cycle {cycle}: no NTF_OFFLINE 1 after the mixer vanished")
            back = time.monotonic()
            open(present, "w").close()
            if not watch.wait_for(back, "NTF_ONLINE", 1, timeout=5, required=False):
                s.fail(f"cycle {cycle}: the mixer is not online again")
            events = [(e["code"], e.get("argument")) for e in watch.since(start)
                      if e["code"] != "AUDIO" and e.get("argument") == 1]
            offline = events.count(("NTF_OFFLINE", 1))
            if events[-1] != ("NTF_ONLINE", 1) or offline != len(events) - 1:
                s.fail(f"cycle {cycle}: mixer notifications out of order: {events}")
        print(f"ok: the mixer device vanished and returned {cycles} times, each cycle ending "
              "NTF_ONLINE 1")


def peers(bin, long):
    """16 peers at a time that join and leave at random, some hanging (stopped), some killed
    in the middle of the feed; one well-behaved peer counts the blocks it gets."""
    seconds = 300 if long else 20
    rng = random.Random(14)
    with harness.Session(bin, prefix="calvora-rel-") as s:
        watch = running(s)
        time.sleep(1.0)
        crowd, hung, killed, joined = [], 0, 0, 0
        before, t0 = watch.blocks(), time.monotonic()
        while time.monotonic() - t0 < seconds:
            crowd = [p for p in crowd if p.poll() is None]
            while len(crowd) < 15:
                crowd.append(s.spawn([bin.ctl, "watch", "--duration",
                                      f"{rng.uniform(0.3, 5):.1f}"], stdout=subprocess.DEVNULL))
                joined += 1
            victim = rng.choice(crowd)
            fate = rng.random()
            if fate < 0.1:
                victim.send_signal(signal.SIGSTOP)  # hangs: never answers again
                hung += 1
                kill_later(victim, rng.uniform(1.5, 4))
            elif fate < 0.3:
                victim.kill()  # crashes in the middle of the feed
                killed += 1
            time.sleep(rng.uniform(0.05, 0.4))
            if s.app.poll() is not None:
                s.fail("the program ended")
        elapsed = time.monotonic() - t0
        got = watch.blocks() - before
        for p in crowd:
            p.kill()
        expected = int(elapsed * 100)
        lost = max(0, expected - got - 2)
        thrown = s.discarded_bytes()
        print(f"tried: {joined} peers joined over {elapsed:.0f} s, {hung} hung, {killed} killed "
              f"mid-feed; the steady peer got {got} of about {expected} blocks; the capture "
              f"threw away {thrown} bytes")
        if thrown:
            s.fail(f"the capture threw away {thrown} bytes of audio")
        # Blocks still on their way when the window closes are not lost: a margin of 5 %.
        if lost > expected * 0.05:
            s.fail(f"{lost} blocks did not reach the steady peer")
        if block_rate(watch, 2.0) < 90:
            s.fail("the steady peer is not fed at 100 blocks/s afterwards")
        print("ok: the program kept capturing and the steady peer got every block")


def serve_attacks(bin, long):
    """calvora-ctl serve against a hostile client (serve_attacks.py)."""
    attacks.serve_attacks(bin, long, running)


def kill_later(process, delay):
    """Kills a hung peer after `delay` seconds, as its user finally would."""
    def kill():
        time.sleep(delay)
        if process.poll() is None:
            process.kill()
    threading.Thread(target=kill, daemon=True).start()


def fuzz_settings(bin, long, source):
    subprocess.run([os.path.join(here, "fuzz", "fuzz-settings.sh"), bin.build, source,
                    "300" if long else "20"], check=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("run")
    parser.add_argument("--long", action="store_true")
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--source-dir", required=True)
    args = parser.parse_args()
    bin = harness.Binaries.in_build(args.build_dir)
    if args.run == "fuzz_settings":
        fuzz_settings(bin, args.long, args.source_dir)
    elif args.run == "settings_saves":
        settings_saves(bin, args.long)
    else:
        harness.on_private_bus()
        globals()[args.run](bin, args.long)


if __name__ == "__main__":
    main()
