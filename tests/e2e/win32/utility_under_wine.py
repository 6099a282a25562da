"""The Windows build end to end under Wine: calvora-audio-mixer.exe captures the virtual card
(ALSA's default device, which Wine's waveIn and mixer API offer as "In: default" and
"Out: default") and calvora-ctl.exe controls it with real window messages, as a station's
playout would. Checked: identify, run, "Online" on the window, audio blocks at about 100 a
second with the right header, a lit meter on the screen, a silence verdict when the card goes
silent, the mute and unmute that auto sends reaching Wine's mixer, sound back, and a clean end.
Beside them calvora-ctl.exe serve, read from Linux: its /metrics name the station and read the
-20 dBFS tone's short-term loudness (about -20 LUFS) and true peak, /status and the live page
answer, ffmpeg hears the tone at its level on /listen, and a programme that loses its right
channel raises channel-lost in serve's event log and leaves its clip (up to 30 s) in a clips
folder, which /clips/ serves; the log's folder and the clips' are named with letters beyond
ASCII and a blank ("Station log Łódź", "Clips Łódź") and made by serve.

Wine keeps the mixer's volume and mute inside the process that sets them, so what reaches the
mixer is read from Wine's own trace of its session volume in the utility's process.

Arguments: calvora-audio-mixer.exe calvora-ctl.exe window-texts.exe calvora-virtual-capture-ctl
virtual-card.conf wine-default.conf SCREENSHOT_DIR. Runs under a display (Xvfb) with the Wine
prefix of the test run (WINEPREFIX)."""
import array
import glob
import json
import math
import os
import re
import subprocess
import sys
import time
import urllib.request

from harness import Binaries, Session, Watch, decode_ogg, rms_db, write_wav

program, ctl, texts, card_ctl, card_conf, wine_default, shots = sys.argv[1:8]
LEVEL = 52428  # the line's level, 0..65535: 80 %
SILENCE_TIME, RESTORE_TIME, FADE = 1, 0.5, 0.5


def window_texts(session):
    """The caption and the controls' texts of the utility's window, or None without one."""
    done = session.wine(texts)
    if done.returncode != 0:
        return None
    return [line.rstrip("\r").split("\t", 1) for line in done.stdout.splitlines() if "\t" in line]


class VolumeTrace:
    """Wine's trace of the session volume in the utility's process: (kind, value) in the order
    the mixer API set them there, kind "MasterVolume" (0..1) or "Mute" (0 or 1)."""
    PATTERN = re.compile(r"SimpleAudioVolume_Set(MasterVolume|Mute) \([0-9A-Fa-f]+\)->\(([0-9.]+)")

    def __init__(self, session):
        self.session, self.offset, self.seen = session, 0, []

    def read(self):
        with open(self.session.log_path, "rb") as log:
            log.seek(self.offset)
            for line in log:
                if not line.endswith(b"\n"):
                    break
                self.offset += len(line)
                found = self.PATTERN.search(line.decode(errors="replace"))
                if found:
                    self.seen.append((found.group(1), float(found.group(2))))
        return self.seen

    def mark(self):
        """Where the settings from now on begin."""
        return len(self.read())

    def wait_for(self, since, what, check, timeout, why):
        """The place after the first setting from `since` on that matches; fails the test when
        none comes within `timeout` seconds."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for place, (kind, value) in enumerate(self.read()[since:], start=since):
                if kind == what and check(value):
                    return place + 1
            time.sleep(0.05)
        self.session.fail(f"Wine's mixer did not see {why} within {timeout} s (from there on: "
             f"{self.read()[since:since + 30]})")

    def fade(self, since, to, why):
        """A fade to `to` (0..1) from `since` on: a value on the way, then `to` itself."""
        on_the_way = self.wait_for(since, "MasterVolume", lambda v: abs(v - to) > 0.1, FADE + 5,
                                   why + " (its start)")
        return self.wait_for(on_the_way, "MasterVolume", lambda v: abs(v - to) < 0.01, FADE + 5,
                             why)


def lime_pixels(name):
    """Takes a picture of the screen, keeps the part the window covers (the rest of the screen
    is black: no window manager) and counts its lime pixels, the colour of a lit LED."""
    xwd = subprocess.run(["xwd", "-root", "-silent"], capture_output=True, check=True).stdout
    wide = subprocess.run(["xwdtopnm"], input=xwd, capture_output=True, check=True).stdout
    # xwdtopnm may give 16 bits a sample; one byte each keeps the reading simple.
    ppm = subprocess.run(["pamdepth", "255"], input=wide, capture_output=True, check=True).stdout
    # P6 header: magic, width, height, maxval, each followed by white space.
    fields, pos = [], 0
    while len(fields) < 4:
        while ppm[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not ppm[end:end + 1].isspace():
            end += 1
        fields.append(ppm[pos:end])
        pos = end
    width, height = int(fields[1]), int(fields[2])
    pixels = ppm[pos + 1:]
    lime, xs, ys = 0, [], []
    for y in range(height):
        row = pixels[3 * width * y:3 * width * (y + 1)]
        lit = [x for x in range(width) if row[3 * x:3 * x + 3] != b"\0\0\0"]
        if lit:
            xs += (lit[0], lit[-1])
            ys.append(y)
        lime += sum(1 for i in range(0, len(row), 3)
                    if row[i] < 40 and row[i + 1] > 220 and row[i + 2] < 40)
    if xs:
        cut = subprocess.run(["pnmcut", "-left", str(min(xs)), "-top", str(ys[0]),
                              "-right", str(max(xs)), "-bottom", str(ys[-1])],
                             input=ppm, capture_output=True, check=True).stdout
        png = subprocess.run(["pnmtopng"], input=cut, capture_output=True, check=True).stdout
        with open(os.path.join(shots, name), "wb") as out:
            out.write(png)
    return lime


def windows_path(path):
    """The path of a Linux file as Wine's programs name it (drive Z: is the root)."""
    return "Z:" + path.replace("/", "\\")


def check_served(session, port):
    """calvora-ctl.exe serve's metrics from Linux: every sample names the station, and the
    -20 dBFS tone reads about -20 LUFS short-term and -20 dBTP on both channels; /status and the
    live page answer."""
    got = {}

    def tone_read():
        got.clear()
        got.update(session.metrics(port, station="windows-1"))
        return abs(got.get("calvora_loudness_short_term_lufs", math.nan) + 20) < 1
    session.wait_until(tone_read, 15, "the short-term loudness did not come to about -20 LUFS",
                       interval=0.25)
    peaks = [got.get(f'calvora_true_peak_dbtp{{channel="{c}"}}', math.nan) for c in ("left", "right")]
    if not all(abs(peak + 20) < 1 for peak in peaks):
        session.fail(f"the true peaks read {peaks} dBTP, not about -20: {got}")
    if got.get('calvora_device_online{device="card"}') != 1:
        session.fail(f"the card is not online in the metrics: {got}")
    status = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/status", timeout=5))
    page = urllib.request.urlopen(f"http://127.0.0.1:{port}/", timeout=5).read().decode()
    if status.get("sampleRate") != 48000 or "<html" not in page.lower():
        session.fail(f"/status says {status} and the live page {page[:100]!r}")
    print(f"ok: calvora-ctl.exe serve, read from Linux: station windows-1, short-term "
          f"{got['calvora_loudness_short_term_lufs']:.2f} LUFS, true peak "
          f"{peaks[0]:.2f} and {peaks[1]:.2f} dBTP; /status and the live page answer")


def tone(db, seconds, hz=1000, rate=48000):
    """A stereo sine whose peak is at `db` dBFS on both channels, as the virtual card plays it."""
    samples = array.array("h")
    for n in range(int(rate * seconds)):
        value = round(10 ** (db / 20) * 32767 * math.sin(2 * math.pi * hz * n / rate))
        samples.extend((value, value))
    return samples


def check_listened(session, port):
    """ffmpeg on Linux reads serve's /listen and hears the -20 dBFS tone at its level."""
    heard = decode_ogg(f"http://127.0.0.1:{port}/listen", seconds=3)
    expected = rms_db(tone(-20, 1), 0, 0, 1)
    levels = [rms_db(heard, channel, 1, 3) for channel in (0, 1)]
    if not all(abs(level - expected) <= 1 for level in levels):
        session.fail(f"/listen reads {levels} dBFS RMS, the programme {expected:.2f}")
    print(f"ok: ffmpeg reads /listen at {levels[0]:.2f} and {levels[1]:.2f} dBFS RMS, the "
          f"programme {expected:.2f}")


def check_clip(session, port, clips, event):
    """The clip of the channel-lost event: in the clips folder (whose name has letters beyond
    ASCII), named by the log, 20 to 30 s long with the tone on the left and nothing on the right
    once the right channel is lost, and served at /clips/ as it is on disk."""
    # Written 10 s after the event; Wine is given room.
    written = session.wait_until(
        lambda: glob.glob(os.path.join(clips, "*", "*-channel-lost.opus")),
        20, f"no clip of channel-lost in {clips!r}: "
        f"{glob.glob(os.path.join(clips, '**'), recursive=True)}", interval=0.2)[0]
    if event.get("clip") != windows_path(written):
        session.fail(f"the log names the clip {event.get('clip')!r}, written {written!r}")
    samples = decode_ogg(written)
    seconds = len(samples) / 2 / 48000
    # The event is 10 s before the clip's end; the clip reaches back over the check's 10 s and
    # 10 s more, as far as serve received audio.
    left, right = rms_db(samples, 0, seconds - 8, seconds - 1), rms_db(samples, 1, seconds - 8,
                                                                       seconds - 1)
    expected = rms_db(tone(-20, 1), 0, 0, 1)
    if not 19.5 <= seconds <= 30.6 or abs(left - expected) > 1 or right > -60:
        session.fail(f"the clip {written}: {seconds:.2f} s, after the event left {left:.2f} and "
                     f"right {right:.2f} dBFS RMS (the tone {expected:.2f})")
    name = os.path.relpath(written, clips).replace(os.sep, "/")
    served = urllib.request.urlopen(f"http://127.0.0.1:{port}/clips/{name}", timeout=5).read()
    with open(written, "rb") as clip:
        if served != clip.read():
            session.fail(f"/clips/{name} served {len(served)} bytes, not the clip's")
    print(f"ok: the clip of channel-lost in {os.path.basename(clips)!r}: {seconds:.2f} s, the "
          f"tone on the left, nothing on the right after the event; /clips/{name} serves it")


def check_channel_lost(session, log_folder):
    """A programme whose right channel is silent: serve logs channel-lost for the right one."""
    rate = 48000
    samples = array.array("h")
    for n in range(rate * 4):
        samples.extend((round(0.1 * 32767 * math.sin(2 * math.pi * 1000 * n / rate)), 0))
    wav = os.path.join(session.work, "right-lost.wav")
    write_wav(wav, samples, rate)
    session.card("programme", "file", wav)

    def logged():
        if not os.path.isdir(log_folder):
            return None  # made by the first event
        for name in os.listdir(log_folder):
            for line in open(os.path.join(log_folder, name), errors="replace"):
                event = json.loads(line)
                if event.get("event") == "channel-lost" and event.get("channel") == "right":
                    return event
        return None
    event = session.wait_until(logged, 10, "no channel-lost of the right channel in serve's log",
                               interval=0.2)
    print(f"ok: the lost right channel is in the Windows event log: {event}")
    return event


def main(session):
    fail, card, wine = session.fail, session.card, session.wine
    session.keep_log_line = lambda line: "SimpleAudioVolume" in line or ":err:" in line
    os.makedirs(shots, exist_ok=True)
    card("programme", "tone", "-20", "1000")
    # A first start in a fresh Wine prefix takes a while.
    app = session.start("[Settings]\r\nSourceMode=1\r\nPID=7\r\nUseSoundCard=1\r\nUseMixer=1\r\n"
                        "[Soundcard]\r\nCard=In: default\r\nBitrate=48000\r\n"
                        f"SilenceTime={SILENCE_TIME}\r\nRestoreTime={RESTORE_TIME}\r\n"
                        "SilenceLevel=-40\r\nWait=3\r\n"
                        "[Mixer]\r\nDevice0=Out: default\r\nRoot0=0\r\nLine0=0\r\n"
                        f"Level0={LEVEL}\r\nOnlyDown=0\r\nFadeOut={FADE}\r\nFadeIn={FADE}\r\n"
                        "Wait=3\r\n", ready=lambda: window_texts(session) is not None,
                        timeout=60, env=dict(session.env, WINEDEBUG="-all,trace+alsa"))
    print("ok: the window of class TCV_AudioMixer is on the desktop")

    identified = wine(ctl, "identify")
    if identified.returncode != 0 or identified.stdout.strip() != "7":
        fail(f"identify answered {identified.stdout.strip()!r} ({identified.stderr.strip()})")
    print("ok: identify answers the program ID of the settings file, 7")

    volume = VolumeTrace(session)
    since = volume.mark()
    start = time.monotonic()
    peer = Watch(session, command="auto")  # announces itself, sends run with restore, answers
    peer.wait_for(start, "CMD_RUN", 2, timeout=20, key="sent")
    peer.wait_for(start, "NTF_ONLINE", 0, timeout=10)
    peer.wait_for(start, "NTF_ONLINE", 1, timeout=10)
    print("ok: after run the card and the mixer line report online")
    # The restore opens the line and fades it in to its level.
    volume.fade(volume.wait_for(since, "Mute", lambda v: v == 0, 5, "the restore's unmute"),
                LEVEL / 65535, "the restore's fade-in")
    print(f"ok: the restore faded Wine's mixer line in to {LEVEL / 655.35:.0f} %")

    shown = [text for _, text in window_texts(session) or []]
    if shown.count("Online") < 2:
        fail(f"the window does not show \"Online\" for the card and the mixer: {shown}")
    print(f"ok: the window \"{shown[0]}\" shows \"Online\" for the card and the mixer")

    counted_from = time.monotonic()
    time.sleep(3)
    blocks = [e for e in peer.since(counted_from, "AUDIO") if e["at"] < counted_from + 3]
    rate = len(blocks) / 3
    if not 70 <= rate <= 130:
        fail(f"{rate:.0f} audio blocks a second, not about 100")
    wrong = [b for b in blocks if (b["rate"], b["channels"], b["bits"], b["bytes"]) !=
             (48000, 2, 16, 1920) or abs(b["left"] + 20) > 1.5 or abs(b["right"] + 20) > 1.5]
    if wrong:
        fail(f"{len(wrong)} audio blocks with a wrong header, e.g. {wrong[0]}")
    print(f"ok: {rate:.0f} audio blocks a second, 48000 Hz, 2 x 16 bits, 1920 bytes, -20 dB")

    lit = lime_pixels("utility-under-wine.png")

    # The station monitor beside auto: its checks with short times, its log and its clips in
    # Linux folders; the clips' folder is made by serve, the log's by the first event. Their
    # names reach Wine's command line as UTF-8.
    log_folder = os.path.join(session.work, "Station log \u0141\u00f3d\u017a")
    clips = os.path.join(session.work, "Clips \u0141\u00f3d\u017a")
    session.env["LC_ALL"] = "C.UTF-8"
    server, port = session.serve("--station", "windows-1", "--json", "--log",
                                 windows_path(log_folder), "--clips", windows_path(clips),
                                 "--channel-for", "1", "--back-for", "1")
    check_served(session, port)
    check_listened(session, port)

    since = volume.mark()
    start = time.monotonic()
    card("programme", "silence")
    verdict = peer.wait_for(start, "NTF_SILENCE", timeout=SILENCE_TIME + 5)[0]
    print(f"ok: silence reported {verdict['at'] - start:.2f} s after the card went silent")
    peer.wait_for(start, "CMD_MUTE", timeout=3, key="sent")
    volume.wait_for(volume.fade(since, 0, "the mute's fade-out"), "Mute", lambda v: v == 1, 5,
                    "the mute switch closing after the fade-out")
    print("ok: auto's mute faded Wine's mixer line out and closed its switch")
    dark = lime_pixels("utility-under-wine-silent.png")
    if not lit > dark + 200:
        fail(f"the meter is not lit by the tone: {lit} lime pixels with it, {dark} without")
    print(f"ok: the meter shows the tone ({lit} lime pixels) and not the silence ({dark})")

    since = volume.mark()
    start = time.monotonic()
    card("programme", "tone", "-20", "1000")
    peer.wait_for(start, "NTF_SOUND", timeout=RESTORE_TIME + 5)
    peer.wait_for(start, "CMD_UNMUTE", timeout=3, key="sent")
    volume.fade(volume.wait_for(since, "Mute", lambda v: v == 0, 5, "the unmute opening the switch"),
                LEVEL / 65535, "the unmute's fade-in")
    print("ok: sound back, and auto's unmute faded Wine's mixer line back in to its level")
    check_clip(session, port, clips, check_channel_lost(session, log_folder))

    wine(texts, "--end-session")
    try:
        code = app.wait(timeout=20)
    except subprocess.TimeoutExpired:
        fail("the utility did not end with the session")
    if code != 0:
        fail(f"the utility ended with exit code {code}")
    try:
        peer.proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        fail("calvora-ctl auto did not end on the utility's goodbye")
    print("ok: the session's end closed the utility, and its goodbye ended calvora-ctl")
    unreadable = [e["unreadable"] for e in peer.events if "unreadable" in e]
    if unreadable:
        fail(f"calvora-ctl printed lines that are no JSON, e.g. {unreadable[0]!r}")


with Session(Binaries(program, ctl, card_ctl, card_conf), prefix="calvora-wine-e2e-",
             wine_conf=wine_default) as wine_session:
    main(wine_session)
