#!/usr/bin/env python3
"""The utility on the desktop's own sound server, end to end with the real programs: a private
PipeWire (sound_server.py) with a null sink, a programme played into the sink, the utility
capturing the sink's monitor through ALSA's pulse device and fading the sink through the server's
mixer, calvora-ctl as the controlling program. Checked against the server's own tools (parec,
pactl) and against the same programme on the virtual card; then the server is killed and started
again under the running utility, and the figures of that are printed.

Usage: pipewire_road.py PROGRAM CALVORA_CTL VIRTUAL_CAPTURE_CTL VIRTUAL_CARD_CONF
"""
import math
import os
import struct
import subprocess
import sys
import time

import sound_server
from harness import Binaries, Session
from sound_server import SoundServer, write_programme

program, ctl, card_ctl, card_conf = sys.argv[1:5]
sound_server.skip_unless_available("the PipeWire road")

SILENCE_TIME, RESTORE_TIME, SILENCE_LEVEL = 2.0, 1.0, -40
CARD_WAIT, MIXER_WAIT = 3, 3
FADE_OUT, FADE_IN = 2.0, 1.5
LEVEL = 45875  # 70 % of the sink's volume
LEVEL_PERCENT = 70
# Tone, a pause shorter than the silence time, tone, dead air, tone.
PROGRAMME = [("tone", 3.0, -20, 1000), ("silence", 1.0, 0, 0), ("tone", 2.0, -20, 1000),
             ("silence", 4.0, 0, 0), ("tone", 4.0, -20, 1000), ("silence", 3.0, 0, 0)]


def settings(card, mixer):
    return ("[Settings]\nSourceMode=1\nPID=22\nUseSoundCard=1\nUseMixer=1\n"
            f"[Soundcard]\nCard={card}\nBitrate=48000\nSilenceTime={SILENCE_TIME}\n"
            f"RestoreTime={RESTORE_TIME}\nSilenceLevel={SILENCE_LEVEL}\nWait={CARD_WAIT}\n"
            f"[Mixer]\nDevice0={mixer}\nRoot0=0\nLine0=0\nLevel0={LEVEL}\nOnlyDown=0\n"
            f"FadeOut={FADE_OUT}\nFadeIn={FADE_IN}\nWait={MIXER_WAIT}\n")


def verdict_times(session, watch, start):
    """Audio seconds (blocks of 10 ms) from the dead air's first quiet block to the silence
    verdict, and from the first loud block after it to the sound-back verdict: the detector's
    own times, whatever the road added or lost before."""
    def loud(e):
        return max(e["left"], e["right"]) > SILENCE_LEVEL

    silence = watch.wait_for(start, "NTF_SILENCE", 0, timeout=20)[0]
    sound = watch.wait_for(silence["at"], "NTF_SOUND", 0, timeout=20)[0]
    with watch.lock:
        events = [e for e in watch.events if e["at"] >= start]
    blocks = [e for e in events[:events.index(silence)] if e["code"] == "AUDIO"]
    quiet = next(i for i in range(len(blocks), 0, -1) if loud(blocks[i - 1]))
    after = [e for e in events[events.index(silence):events.index(sound)]
             if e["code"] == "AUDIO"]
    back = next(i for i, e in enumerate(after) if loud(e))
    return {"silence": (len(blocks) - quiet) / 100, "sound": (len(after) - back) / 100}


def parec_peaks(server, seconds):
    """Peak levels in dBFS per 10 ms of the default source (the sink's monitor), as parec
    records them."""
    raw = subprocess.run(["timeout", str(seconds), "parec", "--format=s16le", "--channels=2",
                          "--rate=48000", "--latency-msec=10"], env=server.env,
                         capture_output=True).stdout
    peaks = []
    block = 480 * 4
    for at in range(0, len(raw) - block + 1, block):
        samples = struct.unpack(f"<{block // 2}h", raw[at:at + block])
        peak = max(abs(s) if s >= 0 else -1 - s for s in samples)
        peaks.append(20 * math.log10(peak / 32768) if peak > 0 else -90.3)
    return peaks


def median(values):
    values = sorted(values)
    return values[len(values) // 2] if values else None


# Calls the utility's window on the bus every 50 ms with a message no window handles (answered 0
# at once) until its standard input closes, then prints the longest time an answer took: the
# longest stretch the utility's main loop was held up, plus the bus's own few milliseconds. The
# system's Python runs it, for its D-Bus module.
PING = """
import sys, threading, time, dbus
bus = dbus.bus.BusConnection(sys.argv[1])
name = next(n for n in bus.list_names() if str(n).startswith("org.calvora.Window.TCV_AudioMixer."))
window = dbus.Interface(bus.get_object(name, "/org/calvora/Window"), "org.calvora.Window")
done = threading.Event()
threading.Thread(target=lambda: (sys.stdin.read(), done.set()), daemon=True).start()
longest = 0.0
while not done.is_set():
    t0 = time.monotonic()
    window.SendMessage(dbus.UInt32(0), dbus.UInt32(0), dbus.UInt32(0), timeout=10)
    longest = max(longest, time.monotonic() - t0)
    time.sleep(0.05)
print(longest)
"""


class BusPing:
    def __init__(self, session):
        self.proc = subprocess.Popen(["/usr/bin/python3", "-c", PING,
                                      session.env["DBUS_SESSION_BUS_ADDRESS"]],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        session.children.append(self.proc)

    def stop(self):
        out, _ = self.proc.communicate("", timeout=15)
        return float(out.strip())


def virtual_card_road(wav):
    """The same programme on the virtual card: the verdicts' audio times to compare with."""
    with Session(Binaries(program, ctl, card_ctl, card_conf),
                 prefix="calvora-e2e-pw-virtual-") as s:
        s.card("programme", "silence")
        app = s.start(settings("Calvora Virtual Capture", "Calvora Virtual Mixer"))
        watch = s.watch()
        s.command("run", "--restore")
        watch.wait_for(0, "NTF_ONLINE", 0, timeout=5)
        # In silence when the programme starts, as on the server's road.
        watch.wait_for(0, "NTF_SILENCE", 0, timeout=SILENCE_TIME + 3)
        start = time.monotonic()
        s.card("programme", "file", wav)
        times = verdict_times(s, watch, start)
        s.close(app)
        return times


with SoundServer() as server:
    # Both utilities run on the server's runtime folder and session bus.
    for key in ("XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS", "PULSE_RUNTIME_PATH",
                "PIPEWIRE_RUNTIME_DIR"):
        os.environ[key] = server.env[key]
    for key in ("PULSE_SERVER", "PIPEWIRE_REMOTE"):
        os.environ.pop(key, None)
    session = Session(Binaries(program, ctl, card_ctl, card_conf), prefix="calvora-e2e-pw-")
    env = session.env
    # The desktop's own ALSA configuration, as a user of the sound server has it: the server's
    # devices are the only ones.
    env.pop("ALSA_CONFIG_PATH")
    fail = session.fail
    wav = os.path.join(session.work, "programme.wav")
    write_programme(wav, PROGRAMME)
    tone = os.path.join(session.work, "tone.wav")
    write_programme(tone, [("tone", 5.0, -20, 1000)])

    # The same programme on the virtual card first, while no other utility runs on the bus.
    on_virtual_card = virtual_card_road(wav)

    with session:
        # What the utility offers of the server.
        listing = subprocess.run([session.executable, "--list-devices"], env=env,
                                 capture_output=True, text=True, timeout=60)
        if listing.stderr.strip():
            fail(f"--list-devices printed on stderr: {listing.stderr!r}")
        if '"PipeWire"' not in listing.stdout:
            fail(f"no mixer named PipeWire in the listing:\n{listing.stdout}")
        card = next((line.split('"')[1] for line in listing.stdout.splitlines()
                     if "Sound Server" in line and '"' in line), None)
        if card is None:
            fail(f"no sound server capture device in the listing:\n{listing.stdout}")
        print(f"ok: the listing offers capture {card!r} and the mixer 'PipeWire'")

        # A settings file written while PulseAudio served the desktop.
        server.pactl("set-sink-volume", sound_server.SINK, "0%")
        app = session.start(settings(card, "PulseAudio"))
        watch = session.watch("--levels-every", "1")
        start = time.monotonic()
        session.command("run", "--restore")
        watch.wait_for(start, "NTF_ONLINE", 1, timeout=5)
        watch.wait_for(start, "NTF_ONLINE", 0, timeout=5)
        time.sleep(FADE_IN + 0.5)
        percent, muted = server.sink_volume()
        if abs(percent - LEVEL_PERCENT) > 1 or muted:
            fail(f"after the restore pactl reads {percent} % muted={muted}")
        print(f"ok: the start with restore faded the sink in to {percent} % (pactl)")

        # Levels: the utility and parec on the same monitor, at the same time.
        server.play(tone)
        time.sleep(1.0)
        mark = time.monotonic()
        peaks = parec_peaks(server, 2)
        ours = [max(e["left"], e["right"]) for e in watch.since(mark, "AUDIO")
                if e["at"] <= mark + 2]
        server.stop_players()
        theirs, mine = median(peaks), median(ours)
        if theirs is None or mine is None or abs(theirs - mine) > 0.5:
            fail(f"level: the utility {mine} dBFS, parec {theirs} dBFS")
        print(f"ok: level {mine:.2f} dBFS, parec {theirs:.2f} dBFS")

        # Mute and restore, as pactl sees them in another process.
        def sample(seconds):
            origin, readings = time.monotonic(), []
            while time.monotonic() - origin < seconds:
                t0 = time.monotonic() - origin
                percent, muted = server.sink_volume()
                readings.append((t0, time.monotonic() - origin, percent, muted))
                time.sleep(0.03)
            return readings

        def check_fade(readings, frm, to, seconds, what):
            moving = [r for r in readings if r[0] < seconds - 0.15]
            for t0, t1, percent, _ in moving:
                low, high = sorted((frm + (to - frm) * max(t0 - 0.1, 0) / seconds,
                                    frm + (to - frm) * min(t1, seconds) / seconds))
                if not low - 1 <= percent <= high + 1:
                    fail(f"{what}: {percent} % between {t0:.2f} and {t1:.2f} s, off the line "
                         f"({low:.1f} .. {high:.1f}); readings {readings}")
            if len(moving) < 5:
                fail(f"{what}: only {len(moving)} readings on the way")
            print(f"ok: {what}: {len(moving)} pactl readings on the straight line")

        session.command("mute")
        readings = sample(FADE_OUT + 1.0)
        check_fade(readings, LEVEL_PERCENT, 0, FADE_OUT, "the mute's fade-out")
        percent, muted = server.sink_volume()
        if not muted or abs(percent - LEVEL_PERCENT) > 1:
            fail(f"after the mute pactl reads {percent} % muted={muted}")
        session.command("unmute")
        readings = sample(FADE_IN + 1.0)
        if any(r[3] for r in readings):
            fail("the sink was muted during the restore")
        check_fade(readings, 0, LEVEL_PERCENT, FADE_IN, "the restore's fade-in")
        if abs(server.sink_volume()[0] - LEVEL_PERCENT) > 1:
            fail(f"after the restore pactl reads {server.sink_volume()}")

        # The verdicts come at the same audio times as on the virtual card.
        start = time.monotonic()
        server.play(wav)
        ours = verdict_times(session, watch, start)
        server.stop_players()
        for what in ("silence", "sound"):
            if abs(ours[what] - on_virtual_card[what]) > 0.1:
                fail(f"{what}: after {ours[what]:.2f} s of audio on PipeWire, "
                     f"{on_virtual_card[what]:.2f} s on the virtual card")
        print(f"ok: silence {ours['silence']:.2f} s of audio into the dead air (virtual card "
              f"{on_virtual_card['silence']:.2f}), sound back {ours['sound']:.2f} s into the "
              f"sound (virtual card {on_virtual_card['sound']:.2f})")

        # The server dies under the running utility, then starts again.
        session.command("mute")  # what is asked: the lines muted
        time.sleep(FADE_OUT + 0.5)
        server.play(tone, loop=True)
        time.sleep(1.0)
        ping = BusPing(session)
        time.sleep(1.0)  # the pinging has begun
        killed = time.monotonic()
        server.kill()
        card_off = watch.wait_for(killed, "NTF_OFFLINE", 0, timeout=CARD_WAIT + 5)[0]
        mixer_off = watch.wait_for(killed, "NTF_OFFLINE", 1, timeout=MIXER_WAIT + 5)[0]
        time.sleep(1.0)
        if app.poll() is not None:
            fail("the utility ended when the server died")
        started = time.monotonic()
        server.start()
        server.play(tone, loop=True)
        ready = time.monotonic() - started
        card_on = watch.wait_for(started, "NTF_ONLINE", 0, timeout=ready + 5)[0]
        mixer_on = watch.wait_for(started, "NTF_ONLINE", 1, timeout=ready + 5)[0]
        time.sleep(0.5)
        longest = ping.stop()
        figures = {"card offline": card_off["at"] - killed,
                   "mixer offline": mixer_off["at"] - killed,
                   "server ready": ready,
                   "card online": card_on["at"] - started,
                   "mixer online": mixer_on["at"] - started,
                   "longest main-loop gap": longest}
        print("figures: " + ", ".join(f"{k} {v:.3f} s" for k, v in figures.items()))
        if not CARD_WAIT <= figures["card offline"] <= CARD_WAIT + 1.5:
            fail(f"the card went OFFLINE {figures['card offline']:.2f} s after the kill")
        if not MIXER_WAIT <= figures["mixer offline"] <= MIXER_WAIT + 1.5:
            fail(f"the mixer went OFFLINE {figures['mixer offline']:.2f} s after the kill")
        for device in ("card", "mixer"):
            if figures[f"{device} online"] > ready + 1.0:  # two checks once the server answers
                fail(f"the {device} came back {figures[device + ' online']:.2f} s after the "
                     f"restart began, the server answered after {ready:.2f} s")
        if longest > 0.5:
            fail(f"the main loop was held up {longest:.3f} s")
        # The lines are as last asked: muted, at their level behind the switch.
        time.sleep(FADE_OUT + 0.5)
        percent, muted = server.sink_volume()
        if not muted:
            fail(f"after the server's return the sink plays: {percent} % muted={muted}")
        print(f"ok: the server's return finds the sink muted as asked ({percent} %)")
        session.close(app)
        # Everything on the utility's stderr is its own: no library spoke (JACK's, the server
        # plugins'), and each report is one whole line.
        with open(os.path.join(session.work, "out.log"), errors="replace") as log:
            foreign = [line for line in log if not line.startswith("calvora-audio-mixer: ")]
        if foreign:
            fail(f"lines on the utility's stderr that are not its own: {foreign}")
        print("ok: nothing but the utility's own lines on its stderr")
