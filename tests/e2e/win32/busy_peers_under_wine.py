"""The Windows build under Wine with controlling programs of its own window messages: one
that keeps up, one busy for 1.5 s and one for 10 s while silences come and go, and two that
answer nothing, one for the give-up time and 5 s more, one for twice that time and 3 s more
(the give-up time shortened from 30 s to 14 s, so the run takes no longer). The busy ones keep
their place and get every notice, in order, once awake; the silent ones are dropped at the
give-up time and find the goodbye as the first thing when they wake, and nothing after it; the
one that keeps up gets the audio blocks all the while, without a gap. At the end the session
closes the utility while one more peer is busy for 4 s inside its silence notice: it finds the
goodbye when it wakes, after the utility has ended, and every other peer gets it at once.

Arguments: calvora-audio-mixer.exe calvora-ctl.exe busy-peer.exe window-texts.exe
calvora-virtual-capture-ctl virtual-card.conf wine-default.conf. Runs under a display (Xvfb)
with the Wine prefix of the test run (WINEPREFIX)."""
import subprocess
import sys
import time

from harness import Binaries, Peer, Session

program, ctl, busy_peer, texts, card_ctl, card_conf, wine_default = sys.argv[1:8]
GIVE_UP = 14
SILENCE, SOUND, BYE = (1024, 0), (1025, 0), (32767, 2)


def after_waking(peer):
    """What the peer printed after it woke: the window messages and data it handled."""
    texts = peer.texts()
    return texts[texts.index("awake") + 1:]


def goodbye_arrival(peer):
    with peer.lock:
        return next(at for at, line in peer.lines if line.split()[2:] == [str(n) for n in BYE])


def check_goodbye_comes_first_and_last(session, name, peer):
    """The goodbye is the next message the peer handles when it wakes, and nothing follows."""
    try:
        peer.proc.wait(timeout=10)  # it ends half a second after the goodbye
    except subprocess.TimeoutExpired:
        session.fail(f"the peer {name} did not end after its goodbye")
    handled = after_waking(peer)
    if not handled or handled[0].split()[2:] != [str(n) for n in BYE] or len(handled) != 1:
        session.fail(f"the peer {name} handled {handled[:5]} when it woke, not the goodbye alone")


def main(session):
    fail, card, wine, wait_until = session.fail, session.card, session.wine, session.wait_until
    session.env["CALVORA_TEST_GIVE_UP_MS"] = str(GIVE_UP * 1000)
    card("programme", "tone", "-20", "1000")
    app = session.start("[Settings]\r\nSourceMode=1\r\nPID=7\r\nUseSoundCard=1\r\n"
                        "UseMixer=0\r\n[Soundcard]\r\nCard=In: default\r\nBitrate=48000\r\n"
                        "SilenceTime=1\r\nRestoreTime=0.5\r\nSilenceLevel=-40\r\nWait=3\r\n",
                        ready=lambda: wine(texts).returncode == 0, timeout=60)

    def busy_peer_exe(name, busy_ms, *busy_in_code):
        """busy-peer.exe: every line it prints, with the time it arrived."""
        return Peer(session, ["wine", busy_peer, name, str(busy_ms), *busy_in_code])

    healthy, brief, slow = (busy_peer_exe("Healthy", 0), busy_peer_exe("Brief", 1500),
                            busy_peer_exe("Slow", 10000))
    silent, sleeper = (busy_peer_exe("Silent", GIVE_UP * 1000 + 5000),
                       busy_peer_exe("Sleeper", 2 * GIVE_UP * 1000 + 3000))
    peers = (healthy, brief, slow, silent, sleeper)
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
    # The peer that is to be busy at the close, busy inside its handler of a silence notice.
    closing = busy_peer_exe("Closing", 4000, str(SILENCE[0]))

    wait_until(lambda: slow.first("awake") and len(slow.notices()) >= len(sent), 20,
               "the 10 s peer did not get its notices")
    for name, peer in (("1.5 s", brief), ("10 s", slow)):
        if peer.notices() != sent:
            fail(f"the peer busy {name} got {peer.notices()}, not {sent}")
        print(f"ok: the peer busy {name} got every notice in order, awake "
              f"{peer.first('awake') - run:.1f} s after run")

    # The silent ones: the goodbye waits for them when they wake, however late.
    wait_until(lambda: BYE in silent.notices(), GIVE_UP + 20, "no goodbye to the silent peer")
    woke = silent.first("awake")
    check_goodbye_comes_first_and_last(session, "silent once", silent)
    print(f"ok: the peer silent once, awake {woke - run:.1f} s after run, found the goodbye "
          "first and nothing after it")
    wait_until(lambda: BYE in sleeper.notices(), 2 * GIVE_UP + 20,
               "no goodbye to the peer silent twice the give-up time")
    check_goodbye_comes_first_and_last(session, "silent twice", sleeper)
    print(f"ok: the peer silent twice, awake {sleeper.first('awake') - run:.1f} s after run, "
          "found the goodbye first and nothing after it")
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

    # The session ends while a peer is busy inside its handler of a silence notice.
    wait_until(lambda: closing.first("ready "), 30, "the closing peer did not start")
    card("programme", "silence")
    closing.wait_for_line(lambda line: line == "busy", "the closing peer's silence notice")
    busy = closing.first("busy")
    asked = time.monotonic()
    wine(texts, "--end-session")
    try:
        app.wait(timeout=20)
    except subprocess.TimeoutExpired:
        fail("the utility did not end with the session")
    ended = time.monotonic()
    wait_until(lambda: all(BYE in p.notices() for p in (healthy, brief, slow)), 10,
               "no goodbye on closing")
    print("ok: the busy peers were told goodbye only when the utility closed")
    if ended - busy >= 4:
        fail(f"the utility ended {ended - busy:.1f} s after the peer fell busy: it waited for it")
    wait_until(lambda: BYE in closing.notices(), 10, "no goodbye to the peer busy at the close")
    check_goodbye_comes_first_and_last(session, "busy at the close", closing)
    print(f"ok: the utility ended {ended - asked:.1f} s after the session's end was asked for "
          f"(Wine's start of the asking program included), {ended - busy:.1f} s after a peer fell "
          f"busy for 4 s, {ended - goodbye_arrival(healthy):.1f} s after the peer that keeps up "
          f"got its goodbye; the busy peer found the goodbye {closing.first('awake') - ended:.1f} "
          "s after the end")


with Session(Binaries(program, ctl, card_ctl, card_conf), prefix="calvora-wine-busy-",
             wine_conf=wine_default) as wine_session:
    main(wine_session)
