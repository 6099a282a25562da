"""The Windows build under Wine with four controlling programs of its own window messages:
one that keeps up, one busy for 1.5 s and one for 10 s while silences come and go, and one
that answers nothing for 35 s. The busy ones keep their place and get every notice, in order,
once awake; the silent one is dropped after 30 s and told goodbye; the one that keeps up gets
the audio blocks all the while, without a gap.

Arguments: calvora-audio-mixer.exe calvora-ctl.exe busy-peer.exe window-texts.exe
calvora-virtual-capture-ctl virtual-card.conf wine-default.conf. Runs under a display (Xvfb)
with the Wine prefix of the test run (WINEPREFIX)."""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

program, ctl, busy_peer, texts, card_ctl, card_conf, wine_default = sys.argv[1:8]
work = tempfile.mkdtemp(prefix="calvora-wine-busy-")
env = dict(os.environ,
           ALSA_CONFIG_PATH=f"/usr/share/alsa/alsa.conf:{card_conf}:{wine_default}",
           CALVORA_VIRTUAL_CARD_DIR=os.path.join(work, "card"))
os.makedirs(env["CALVORA_VIRTUAL_CARD_DIR"])
children = []
GIVE_UP = 30
SILENCE, SOUND, BYE = (1024, 0), (1025, 0), (32767, 2)


def fail(text):
    print("FAIL:", text, file=sys.stderr)
    for child in children:
        if child.poll() is None:
            child.kill()
    sys.exit(1)


def wine(*args, timeout=30):
    return subprocess.run(["wine", *args], env=env, capture_output=True, text=True,
                          timeout=timeout)


def card(*args):
    subprocess.run([card_ctl, *args], env=env, check=True)


class Peer:
    """busy-peer.exe: every line it prints, with the time it arrived."""

    def __init__(self, name, busy_ms):
        self.name, self.lines, self.lock = name, [], threading.Lock()
        self.proc = subprocess.Popen(["wine", busy_peer, name, str(busy_ms)], env=env,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        children.append(self.proc)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            with self.lock:
                self.lines.append((time.monotonic(), line.strip()))

    def first(self, prefix, since=0):
        with self.lock:
            return next((at for at, line in self.lines if at >= since and line.startswith(prefix)),
                        None)

    def notices(self):
        """(code, argument) of every window message, in order."""
        with self.lock:
            words = [line.split() for _, line in self.lines]
        return [(int(w[2]), int(w[3])) for w in words if len(w) == 4 and w[0] == "received"]

    def blocks(self, since, until):
        with self.lock:
            return [at for at, line in self.lines if line.startswith("data ") and
                    since <= at <= until]


def wait_until(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.05)
    fail(f"{what} within {timeout} s")


def main():
    executable = os.path.join(work, "calvora-audio-mixer.exe")
    shutil.copy(program, executable)
    with open(os.path.join(work, "calvora-audio-mixer.ini"), "w") as ini:
        ini.write("[Settings]\r\nSourceMode=1\r\nPID=7\r\nUseSoundCard=1\r\nUseMixer=0\r\n"
                  "[Soundcard]\r\nCard=In: default\r\nBitrate=48000\r\n"
                  "SilenceTime=1\r\nRestoreTime=0.5\r\nSilenceLevel=-40\r\nWait=3\r\n")
    card("programme", "tone", "-20", "1000")
    app = subprocess.Popen(["wine", executable], cwd=work, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, env=env)
    children.append(app)
    wait_until(lambda: wine(texts).returncode == 0, 60, "the utility's window did not appear")

    healthy, brief, slow, silent = (Peer("Healthy", 0), Peer("Brief", 1500),
                                    Peer("Slow", 10000), Peer("Silent", GIVE_UP * 1000 + 5000))
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
    blocks = healthy.blocks(run + 2, woke)
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
        if len(peer.blocks(now, now + 1)) < 50:
            fail(f"the peer busy {name} gets no blocks again")

    wine(texts, "--end-session")
    try:
        app.wait(timeout=20)
    except subprocess.TimeoutExpired:
        fail("the utility did not end with the session")
    wait_until(lambda: all(BYE in p.notices() for p in (healthy, brief, slow)), 10,
               "no goodbye on closing")
    print("ok: the busy peers were told goodbye only when the utility closed")


try:
    main()
finally:
    for child in children:
        if child.poll() is None:
            child.kill()
    shutil.rmtree(work, ignore_errors=True)
