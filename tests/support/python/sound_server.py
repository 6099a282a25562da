"""A private PipeWire for end-to-end tests: pipewire, wireplumber and pipewire-pulse on a runtime
folder and session bus of their own, a named null sink as the default sink and its monitor as the
default source, and programmes played into the sink with pw-play. Every process it starts is
ended (and waited for) when it closes, the server's too after a kill and restart.

A machine without the packages has no server to start: `missing()` names what is not there, and
the tests skip with that message (exit code 77, which CTest counts as skipped)."""
import math
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

from harness import write_wav

SINK = "calvora_programme"
SKIPPED = 77
_PROGRAMS = ("pipewire", "wireplumber", "pipewire-pulse", "pw-play", "pactl", "parec")
_PULSE_PLUGIN_DIRS = ("/usr/lib/x86_64-linux-gnu/alsa-lib", "/usr/lib/aarch64-linux-gnu/alsa-lib",
                      "/usr/lib/alsa-lib", "/usr/lib64/alsa-lib")


def missing():
    """What a machine lacks to run the sound-server tests, empty when nothing."""
    lacking = [name for name in _PROGRAMS if shutil.which(name) is None]
    if not any(os.path.exists(os.path.join(d, "libasound_module_pcm_pulse.so"))
               for d in _PULSE_PLUGIN_DIRS):
        lacking.append("ALSA's pulse plugin (libasound2-plugins)")
    return lacking


def skip_unless_available(what):
    lacking = missing()
    if lacking:
        print(f"SKIP: {what} needs a PipeWire to start; missing: {', '.join(lacking)} "
              "(scripts/install-deps.sh installs them)")
        sys.exit(SKIPPED)


def write_programme(path, segments, rate=48000):
    """A 16-bit stereo WAV of (kind, seconds, dBFS peak, Hz) segments, kind "tone" or "silence",
    as the virtual capture device's own programmes are made."""
    frames = bytearray()
    for kind, seconds, db, hz in segments:
        count = int(round(seconds * rate))
        if kind == "silence":
            frames += bytes(4 * count)
            continue
        amplitude = 32768 * 10 ** (db / 20)
        for n in range(count):
            sample = int(round(amplitude * math.sin(2 * math.pi * hz * n / rate)))
            sample = max(-32768, min(32767, sample))
            frames += struct.pack("<hh", sample, sample)
    write_wav(path, bytes(frames), rate)


class SoundServer:
    def __init__(self, prefix="calvora-pipewire-"):
        self.root = tempfile.mkdtemp(prefix=prefix)
        self.runtime = os.path.join(self.root, "runtime")
        os.makedirs(self.runtime, mode=0o700)
        home = os.path.join(self.root, "home")
        self.env = dict(os.environ,
                        XDG_RUNTIME_DIR=self.runtime,
                        HOME=home,
                        XDG_CONFIG_HOME=os.path.join(home, "config"),
                        XDG_STATE_HOME=os.path.join(home, "state"),
                        XDG_DATA_HOME=os.path.join(home, "data"),
                        DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(self.runtime, "bus"),
                        PULSE_RUNTIME_PATH=os.path.join(self.runtime, "pulse"),
                        PIPEWIRE_RUNTIME_DIR=self.runtime,
                        # No JACK server here; libjack must not try to start one.
                        JACK_NO_START_SERVER="1")
        for key in ("PULSE_SERVER", "PIPEWIRE_REMOTE", "DISPLAY", "WAYLAND_DISPLAY"):
            self.env.pop(key, None)
        self.bus = None
        self.server = []  # pipewire, wireplumber, pipewire-pulse
        self.players = []

    def __enter__(self):
        # A start that fails ends what it started: no __exit__ follows a failed __enter__.
        try:
            self.bus = self._spawn(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                    "--address=" + self.env["DBUS_SESSION_BUS_ADDRESS"]], "dbus")
            self._wait_for(lambda: os.path.exists(os.path.join(self.runtime, "bus")), "the bus")
            self.start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def _spawn(self, argv, name):
        log = open(os.path.join(self.root, name + ".log"), "ab")
        return subprocess.Popen(argv, env=self.env, stdout=log, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, start_new_session=True)

    def _wait_for(self, ready, what, timeout=15.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if ready():
                return
            time.sleep(0.05)
        raise RuntimeError(f"the private PipeWire: no {what} within {timeout} s; logs in "
                           f"{self.root}")

    def pactl(self, *args, check=True):
        return subprocess.run(["pactl", *args], env=self.env, capture_output=True, text=True,
                              timeout=10, check=check).stdout.strip()

    def _null_sink(self):
        """The null sink exists, or its module is loaded now; a server that has just begun to
        answer may still refuse it, and is asked again. The monitor carries the programme as
        played, before the sink's volume and mute: the utility listens to the programme and
        fades the sink, as a station's output line."""
        if SINK in self.pactl("list", "short", "sinks", check=False):
            return True
        self.pactl("load-module", "module-null-sink", f"sink_name={SINK}",
                   "sink_properties=monitor.channel-volumes=false", check=False)
        return False

    def start(self):
        """Starts the server's three processes and makes the null sink the default."""
        self.server = [self._spawn(["pipewire"], "pipewire")]
        self._wait_for(lambda: os.path.exists(os.path.join(self.runtime, "pipewire-0")),
                       "pipewire socket")
        self.server.append(self._spawn(["wireplumber"], "wireplumber"))
        self.server.append(self._spawn(["pipewire-pulse"], "pipewire-pulse"))
        self._wait_for(lambda: subprocess.run(["pactl", "info"], env=self.env,
                                              capture_output=True).returncode == 0,
                       "pulse server")
        self._wait_for(self._null_sink, "null sink")
        self.pactl("set-default-sink", SINK)
        self.pactl("set-default-source", SINK + ".monitor")

    def kill(self):
        """The server dies at once, as a crash would; its sockets stay where they were."""
        for process in self.players + self.server:
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGKILL)
            process.wait()
        self.players, self.server = [], []

    def play(self, wav, loop=False):
        """Plays a WAV into the null sink (in a loop while the test runs, when asked)."""
        argv = ["pw-play", "--target", SINK, wav]
        if loop:
            argv = ["sh", "-c", 'while pw-play --target "$0" "$1"; do :; done', SINK, wav]
        player = self._spawn(argv, "player")
        self.players.append(player)
        return player

    def stop_players(self):
        for player in self.players:
            if player.poll() is None:
                os.killpg(player.pid, signal.SIGTERM)
            player.wait()
        self.players = []

    def sink_volume(self):
        """The sink's volume in percent (the first channel) and whether it is muted, as another
        process reads them."""
        volume = self.pactl("get-sink-volume", SINK)
        percent = int(volume.split("/")[1].strip().rstrip("%"))
        muted = self.pactl("get-sink-mute", SINK).endswith("yes")
        return percent, muted

    def close(self):
        self.stop_players()
        for process in reversed(self.server):
            if process.poll() is None:
                process.terminate()
        for process in self.server:
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        self.server = []
        if self.bus is not None:
            self.bus.terminate()
            self.bus.wait()
            self.bus = None
        shutil.rmtree(self.root, ignore_errors=True)
