#!/usr/bin/env python3
"""The real program in interactive mode on the virtual sound card, with four peers on a private
session bus: calvora-ctl watch, a test window busy for 1.5 s and one busy for 10 s while
silences come and go, and a window that never answers. The busy ones keep their place and get
every notice, in order, once awake; the silent one is dropped after 30 s with a goodbye;
the watch gets every audio block all the while.

Usage: busy_peers.py PROGRAM CALVORA_CTL VIRTUAL_CAPTURE_CTL VIRTUAL_CARD_CONF TEST_WINDOW
       ROGUE_WINDOW
"""
import sys
import time

from harness import Binaries, Peer, Session, interactive_settings

program, ctl, card_ctl, card_conf, test_window, rogue_window = sys.argv[1:7]
GIVE_UP = 30.0
CODES = {"NTF_SILENCE": 1024, "NTF_SOUND": 1025, "NTF_OFFLINE": 4096, "NTF_ONLINE": 4097}


with Session(Binaries(program, ctl, card_ctl, card_conf), prefix="calvora-e2e-busy-") as session:
    fail, card, command = session.fail, session.card, session.command
    card("programme", "tone", "-20", "1000")
    app = session.start(interactive_settings(12, silence_time=1, restore_time=0.5, wait=2))
    utility = command("list").split()[0]
    watch = session.watch()
    brief = Peer(session, [test_window, "--class", "Brief", "--announce-to", utility,
                           "--quiet-data"], stdin=True)
    slow = Peer(session, [test_window, "--class", "Slow", "--announce-to", utility,
                          "--quiet-data"], stdin=True)
    silent = Peer(session, [rogue_window, "hang", utility, "Silent"], stdin=True)
    time.sleep(0.7)  # admitted by the next scans

    run = time.monotonic()
    command("run")
    watch.wait_for(run, "NTF_ONLINE", 0, timeout=5)
    time.sleep(1.0)

    # Two peers busy at once; three silences and sound back each time meanwhile.
    brief.tell("busy 1500")
    slow.tell("busy 10000")
    for _ in range(3):
        start = time.monotonic()
        card("programme", "silence")
        watch.wait_for(start, "NTF_SILENCE", 0, timeout=5)
        start = time.monotonic()
        card("programme", "tone", "-20", "1000")
        watch.wait_for(start, "NTF_SOUND", 0, timeout=5)
    sent = [(CODES[e["code"]], e["argument"]) for e in watch.since(run) if e["code"] in CODES]
    if len(sent) != 7:
        fail(f"the watch saw {sent}")

    session.wait_until(lambda: slow.first("awake") and len(slow.notices(utility)) >= len(sent),
                       15, "the 10 s peer did not get its notices")
    for name, peer in (("1.5 s", brief), ("10 s", slow)):
        got = peer.notices(utility)
        if got != sent:
            fail(f"the peer busy {name} got {got}, not {sent}")
        busy_for = peer.first("awake") - run
        print(f"ok: the peer busy {name} got all {len(got)} notices in order, once awake "
              f"{busy_for:.1f} s after the start")

    # The silent peer: dropped with a goodbye only after the long wait.
    session.wait_until(lambda: silent.first("byes 1 "), GIVE_UP + 10,
                       "no goodbye to the silent peer")
    dropped = silent.first("byes 1 ")
    if not GIVE_UP - 1.0 <= dropped - run <= GIVE_UP + 3.0:
        fail(f"the silent peer was dropped {dropped - run:.1f} s after the start")
    print(f"ok: the silent peer was dropped {dropped - run:.1f} s after it was first sent to")

    # Neither busy peer was dropped: no goodbye, and audio reaches them again.
    for name, peer in (("1.5 s", brief), ("10 s", slow)):
        if (32767, 2) in peer.notices(utility):
            fail(f"the peer busy {name} was told goodbye")

    # Every block reached the watch meanwhile, without a gap.
    blocks = [e["at"] for e in watch.since(run + 0.5, "AUDIO") if e["at"] <= dropped]
    expected = (blocks[-1] - blocks[0]) * 100
    longest = max(b - a for a, b in zip(blocks, blocks[1:]))
    print(f"ok: the watch got {len(blocks)} blocks in {blocks[-1] - blocks[0]:.1f} s "
          f"({len(blocks) / (blocks[-1] - blocks[0]):.1f}/s), longest gap {longest * 1000:.0f} ms")
    if len(blocks) < expected * 0.97 or longest > 0.5:
        fail(f"{len(blocks)} blocks where about {expected:.0f} were due")

    session.close(app)
    for name, peer in (("1.5 s", brief), ("10 s", slow)):
        session.wait_until(lambda: (32767, 2) in peer.notices(utility), 5,
                           f"no goodbye to the peer busy {name} on closing")
    print("ok: the busy peers were told goodbye only when the utility closed")
