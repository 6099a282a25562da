"""The Windows build under Wine with four controlling programs of its own window messages:
one that keeps up, one busy for 1.5 s and one for 10 s while silences come and go, and one
that answers nothing for 35 s. The busy ones keep their place and get every notice, in order,
once awake; the silent one is dropped after 30 s and told goodbye; the one that keeps up gets
the audio blocks all the while, without a gap.

Arguments: calvora-audio-mixer.exe calvora-ctl.exe busy-peer.exe window-texts.exe
calvora-virtual-capture-ctl virtual-card.conf wine-default.conf. Runs under a display (Xvfb)
with the Wine prefix of the test run (WINEPREFIX)."""
import subprocess
import sys
import time

from harness import Binaries, Peer, Session

program, ctl, busy_peer, texts, card_ctl, card_conf, wine_default = sys.argv[1:8]
GIVE_UP = 30
SILENCE, SOUND, BYE = (1024, 0), (1025, 0), (32767, 2)


def main(session):
    fail, card, wine, wait_until = session.fail, session.card, session.wine, session.wait_until
    card("programme", "tone", "-20", "1000")
    app = session.start("[Settings]\r\nSourceMode=1\r\nPID=7\r\nUseSoundCard=1\r\n"
                        "UseMixer=0\r\n[Soundcard]\r\nCard=In: default\r\nBitrate=48000\r\n"
                        "SilenceTime=1\r\nRestoreTime=0.5\r\nSilenceLevel=-40\r\nWait=3\r\n",
                        ready=lambda: wine(texts).returncode == 0, timeout=60)

    def busy_peer_exe(name, busy_ms):
        """busy-peer.exe: every line it prints, with the time it arrived."""
        return Peer(session, ["wine", busy_peer, name, str(busy_ms)])

    healthy, brief, slow, silent = (busy_peer_exe("Healthy", 0), busy_peer_exe("Brief", 1500),
                                    busy_peer_exe("Slow", 10000),
                                    busy_peer_exe("Silent", GIVE_UP * 1000 + 5000))
    peers = (healthy, brief, slow, silent)
    wait_until(lambda: all(p.first("ready ") for p in peers), 30, "the peers did not start")
    time.sleep(0.5)  # admitted by the next scans

    run = time.monotonic()
    if wine(ctl, "run").returncode != 0:
        fail("run failed")
    wait_until(lambda: healthy.notices(), 10, "no notice after run")
    # Three silences, and sound back each time, while the others are busy.
    for verdict in (SILENCE, SOUND) * 3:
        count = healthy.notices().count(verdict)
        card(*(("programme", "silence") if verdict == SILENCE else
               ("programme", "tone", "-20", "1000")))
        wait_until(lambda: healthy.notices().count(verdict) > count, 10, f"no {verdict}")
    sent = healthy.notices()
    print(f"ok: the peer that keeps up got {sent}")

    wait_until(lambda: slow.first("awake") and len(slow.notices()) >= len(sent), 20,
               "the 10 s peer did not get its notices")
    for name, peer in (("1.5 s", brief), ("10 s", slow)):
        if peer.notices() != sent:
            fail(f"the peer busy {name} got {peer.notices()}, not {sent}")
        print(f"ok: the peer busy {name} got every notice in order, awake "
              f"{peer.first('awake') - run:.1f} s after run")

    # The silent one: a goodbye waits for it when it wakes after 35 s.
    wait_until(lambda: BYE in silent.notices(), GIVE_UP + 20, "no goodbye to the silent peer")
    woke = silent.first("awake")
    print(f"ok: the silent peer, awake {woke - run:.1f} s after run, found the goodbye")
    for name, peer in (("1.5 s", brief), ("10 s", slow), ("keeping up", healthy)):
        if BYE in peer.notices():
            fail(f"the peer {name} was told goodbye")

    # The peer that keeps up got the blocks all the while.
    blocks = healthy.arrivals("data ", run + 2, woke)
    seconds = blocks[-1] - blocks[0]
    longest = max(b - a for a, b in zip(blocks, blocks[1:]))
    print(f"ok: the peer that keeps up got {len(blocks)} blocks in {seconds:.1f} s "
          f"({len(blocks) / seconds:.0f}/s), longest gap {longest * 1000:.0f} ms")
    if len(blocks) / seconds < 70 or longest > 0.5:
        fail("the blocks to the peer that keeps up were held up")
    # The busy ones are fed again.
    now = time.monotonic()
    time.sleep(1)
    for name, peer in (("1.5 s", brief), ("10 s", slow)):
        if len(peer.arrivals("data ", now, now + 1)) < 50:
            fail(f"the peer busy {name} gets no blocks again")

    wine(texts, "--end-session")
    try:
        app.wait(timeout=20)
    except subprocess.TimeoutExpired:
        fail("the utility did not end with the session")
    wait_until(lambda: all(BYE in p.notices() for p in (healthy, brief, slow)), 10,
               "no goodbye on closing")
    print("ok: the busy peers were told goodbye only when the utility closed")


with Session(Binaries(program, ctl, card_ctl, card_conf), prefix="calvora-wine-busy-",
             wine_conf=wine_default) as wine_session:
    main(wine_session)
