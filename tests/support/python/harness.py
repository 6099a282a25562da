"""The real programs for the end-to-end tests, the reliability runs and the benchmarks: the
utility in a working folder of its own on the virtual sound card (the Linux build offscreen, or
the Windows build under Wine), calvora-ctl and other controlling programs as peers whose output
is kept as it arrives, the process figures (CPU time, resident memory) the benchmarks read, and
the small helpers the scripts share: waiting for a condition, WAV files, libebur128's reading.

A script that talks to the utility on the session bus runs under a dbus-run-session of its own
(`on_private_bus()` re-executes it under one when it is not). Nothing compiled is left in the
source tree: ctest hands the end-to-end scripts this folder on PYTHONPATH with
PYTHONDONTWRITEBYTECODE=1, and the reliability runs and the benchmarks, also run by hand, put it
on sys.path themselves after setting sys.dont_write_bytecode.
"""
import array
import contextlib
import ctypes
import json
import math
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request
import wave

RATE = 48000
PAGE_KIB = os.sysconf("SC_PAGE_SIZE") // 1024


def fail(text, detail=""):
    """Ends the test: FAIL and what went wrong, then `detail` (the tail of a log)."""
    print("FAIL:", text, file=sys.stderr)
    sys.stderr.write(detail)
    sys.exit(1)


def wait_until(condition, timeout, what, interval=0.05, on_timeout=fail):
    """What condition() returns once it holds; fails with `what` when it does not hold within
    `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        result = condition()
        if result:
            return result
        time.sleep(interval)
    on_timeout(f"{what} within {timeout} s")


def on_private_bus():
    """Re-executes the running script under dbus-run-session unless it already is."""
    if os.environ.get("CALVORA_PRIVATE_BUS") == "1":
        return
    env = dict(os.environ, CALVORA_PRIVATE_BUS="1")
    os.execvpe("dbus-run-session", ["dbus-run-session", "--", sys.executable, *sys.argv], env)


class Binaries:
    """The programs a session runs: the utility, calvora-ctl, the control program of the virtual
    capture device and the virtual card's ALSA configuration."""

    def __init__(self, program, ctl, card_ctl, card_conf, build=None):
        self.program, self.ctl, self.card_ctl, self.card_conf = program, ctl, card_ctl, card_conf
        self.build = build

    @classmethod
    def in_build(cls, build):
        """The programs where a Linux build folder has them."""
        build = os.path.abspath(build)
        return cls(os.path.join(build, "src/app/calvora-audio-mixer"),
                   os.path.join(build, "tools/calvora-ctl/calvora-ctl"),
                   os.path.join(build, "virtual-card/calvora-virtual-capture-ctl"),
                   os.path.join(build, "virtual-card/virtual-card.conf"), build)

    def tool(self, relative):
        return os.path.join(self.build, relative)


class Session:
    """One working folder: the utility's copy with its settings file beside it, the virtual
    card's state, the utility's output (out.log), the children and peers started and the
    cleanups asked for, all ended and removed on leaving. With `wine_conf` (ALSA's default
    device for Wine) the programs are Windows ones and run under Wine; without it the Linux
    utility runs offscreen with a configuration folder of its own."""

    def __init__(self, binaries=None, prefix="calvora-e2e-", wine_conf=None):
        self.bin, self.wine_conf = binaries, wine_conf
        self.launch = ["wine"] if wine_conf else []
        self.work = tempfile.mkdtemp(prefix=prefix)
        self.env = dict(os.environ)
        self.children, self.peers, self.cleanups = [], [], []
        self.app = self.log = self.keep_log_line = None
        self.log_path = os.path.join(self.work, "out.log")
        if binaries is None:
            return
        alsa = [c for c in ("/usr/share/alsa/alsa.conf", binaries.card_conf, wine_conf) if c]
        self.env.update(ALSA_CONFIG_PATH=":".join(alsa),
                        CALVORA_VIRTUAL_CARD_DIR=os.path.join(self.work, "card"))
        if not wine_conf:
            self.env.update(QT_QPA_PLATFORM="offscreen",
                            XDG_CONFIG_HOME=os.path.join(self.work, "config"),
                            XDG_CONFIG_DIRS=os.path.join(self.work, "xdg"))
        os.makedirs(self.env["CALVORA_VIRTUAL_CARD_DIR"])
        self.executable = os.path.join(self.work, os.path.basename(binaries.program))
        shutil.copy(binaries.program, self.executable)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.end()

    def end(self):
        """Kills what still runs, runs the cleanups (the last asked first), removes the folder."""
        for child in self.children:
            if child.poll() is None:
                child.kill()
                child.wait()
        for cleanup in reversed(self.cleanups):
            cleanup()
        shutil.rmtree(self.work, ignore_errors=True)

    def program_log(self):
        """The tail of the utility's output; of the lines keep_log_line() keeps, when set."""
        try:
            with open(self.log_path, errors="replace") as log:
                lines = [line for line in log if not self.keep_log_line or self.keep_log_line(line)]
        except OSError:
            return ""
        return "".join(lines)[-3000:]

    def fail(self, text):
        """Ends the test with the tail of the utility's output and of each peer's errors."""
        fail(text, self.program_log() + "".join(peer.error_tail() for peer in self.peers))

    def wait_until(self, condition, timeout, what, interval=0.05):
        return wait_until(condition, timeout, what, interval, on_timeout=self.fail)

    def spawn(self, args, **kwargs):
        child = subprocess.Popen(args, **{"env": self.env, **kwargs})
        self.children.append(child)
        return child

    def card(self, *args):
        """Tells the virtual capture device what to play (or to vanish, or to come back)."""
        subprocess.run([self.bin.card_ctl, *args], env=self.env, check=True)

    def command(self, *args, timeout=10, check=True):
        """Runs calvora-ctl and returns what it printed."""
        return subprocess.run([*self.launch, self.bin.ctl, *args], env=self.env, check=check,
                              capture_output=True, text=True, timeout=timeout).stdout.strip()

    def wine(self, *args, **kwargs):
        return wine(*args, env=self.env, **kwargs)

    def start(self, settings, ready=None, timeout=10.0, env=None):
        """Writes `settings` (INI text) beside the utility's copy, starts it and waits until
        ready() holds: by default until its window is on the bus."""
        with open(os.path.splitext(self.executable)[0] + ".ini", "w", newline="") as ini:
            ini.write(settings)
        self.log = open(self.log_path, "w")
        where = {"cwd": self.work} if self.wine_conf else {}
        self.app = self.spawn([*self.launch, self.executable], env=env or self.env,
                              stdout=self.log, stderr=subprocess.STDOUT, **where)
        ready = ready or (lambda: self.command("list", check=False))
        self.wait_until(lambda: self.app.poll() is not None or ready(), timeout,
                        "the utility's window did not appear")
        if self.app.poll() is not None:
            self.fail(f"the utility ended ({self.app.returncode}) before its window appeared")
        return self.app

    def close(self, app=None):
        """Ends the utility as the session's end does and expects a clean exit."""
        app = app or self.app
        app.send_signal(signal.SIGTERM)
        if app.wait(timeout=10) != 0:
            self.fail(f"exit code {app.returncode} after SIGTERM")

    def watch(self, *options, **kwargs):
        """A calvora-ctl watch peer, admitted by the utility's next 100 ms scan."""
        watch = Watch(self, *options, **kwargs)
        time.sleep(0.5)
        return watch

    def quiet_watch(self):
        """calvora-ctl watch as a peer that receives every audio block and prints nothing, so
        that its own output and a reader beside it add no load to what is measured."""
        return self.spawn([self.bin.ctl, "watch", "--levels-every", "1000000000"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def serve(self, *options):
        """calvora-ctl serve on a free port of 127.0.0.1 with `options`: the process and the
        port it says it serves on; what it says after that is read and let go."""
        server = self.spawn([*self.launch, self.bin.ctl, "serve", "--listen", "127.0.0.1:0",
                             *options],
                            stderr=subprocess.PIPE, text=True)
        said = ""
        while not (found := re.search(r"127\.0\.0\.1:(\d+)/metrics", said)):
            line = server.stderr.readline()
            if not line:
                self.fail(f"calvora-ctl serve ended saying {said!r}")
            said += line
        threading.Thread(target=server.stderr.read, daemon=True).start()
        return server, int(found.group(1))

    def discarded_bytes(self):
        """Captured audio the utility threw away because no capture block was queued in time,
        from its warnings."""
        self.log.flush()
        with open(self.log_path, errors="replace") as log:
            return sum(int(line.split("(")[1].split()[0]) for line in log
                       if "thrown away" in line and "bytes)" in line)

    def window_handle(self):
        return int(self.command("list").split()[0])

    def metrics(self, port, station=None):
        """calvora-ctl serve's samples by name and labels. Every sample must name the station
        (this machine's host name where serve has no --station); that label is left out."""
        text = urllib.request.urlopen(f"http://127.0.0.1:{port}/metrics", timeout=5).read()
        label = f'station="{station or socket.gethostname()}"'
        values = {}
        for line in text.decode().splitlines():
            if not line or line.startswith("#"):
                continue
            name, value = line.rsplit(" ", 1)
            if label not in name:
                self.fail(f"a sample without {label}: {line}")
            for labelled in ("{" + label + "}", "," + label, label + ","):
                name = name.replace(labelled, "")
            values[name] = float(value)
        return values

    def wait_metric(self, port, name, value, timeout=8.0):
        got = {}

        def reads():
            got.update(self.metrics(port))
            return got.get(name) == value
        self.wait_until(reads, timeout, f"{name} did not read {value}", interval=0.1)
        return got


class Peer:
    """A controlling program started by the session: each line it prints with the time it
    arrived, its errors too with errors=True; with stdin=True the test can tell it things."""

    def __init__(self, session, argv, stdin=False, errors=False):
        self.session = session
        self.lines, self.errors = [], []
        self.lock = threading.Lock()
        pipe = subprocess.PIPE
        self.proc = session.spawn(argv, stdin=pipe if stdin else None, stdout=pipe,
                                  stderr=pipe if errors else None, text=True)
        session.peers.append(self)
        self._read_in_background(self.proc.stdout, self._keep)
        if errors:
            self._read_in_background(self.proc.stderr, self._keep_error)

    def _read_in_background(self, stream, keep):
        def read():
            for line in stream:
                keep(time.monotonic(), line)
        threading.Thread(target=read, daemon=True).start()

    def _keep(self, at, line):
        with self.lock:
            self.lines.append((at, line.strip()))

    def _keep_error(self, at, line):
        with self.lock:
            self.errors.append((at, line.strip()))

    def error_tail(self):
        with self.lock:
            return "".join(line + "\n" for _, line in self.errors[-40:])

    def tell(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def texts(self, stream="lines"):
        """The lines printed so far, on stdout or (stream="errors") on stderr."""
        with self.lock:
            return [line for _, line in getattr(self, stream)]

    def arrivals(self, prefix, since=0, until=float("inf")):
        """When each line that begins with `prefix` arrived, from `since` to `until`."""
        with self.lock:
            return [at for at, line in self.lines
                    if since <= at <= until and line.startswith(prefix)]

    def first(self, prefix, since=0):
        found = self.arrivals(prefix, since)
        return found[0] if found else None

    def notices(self, sender=None):
        """(code, argument) of every window message received (from `sender`), in order."""
        words = [line.split() for line in self.texts()]
        return [(int(w[2]), int(w[3])) for w in words if len(w) == 4 and w[0] == "received"
                and sender in (None, w[1])]

    def wait_for_line(self, predicate, what, timeout=10.0, stream="lines"):
        """The first line (of `stream`) that satisfies `predicate`; fails the test when none
        comes within `timeout` seconds or the program ends first."""
        def found():
            lines = [line for line in self.texts(stream) if predicate(line)]
            if not lines and self.proc.poll() is not None:
                self.session.fail(f"{self.proc.args[0]} ended ({self.proc.returncode}) waiting "
                                  f"for {what}")
            return lines[0] if lines else None
        return self.session.wait_until(found, timeout, f"no {what}", interval=0.02)


class Watch(Peer):
    """calvora-ctl watch --json (or, with command="auto", auto --json) as a peer: each event it
    prints, with the time it arrived. Audio blocks are counted, and with keep_audio=False not
    kept, for runs where keeping them would weigh on what is measured."""

    def __init__(self, session, *options, command="watch", keep_audio=True):
        self.keep_audio, self.audio_count = keep_audio, 0
        super().__init__(session, [*session.launch, session.bin.ctl, command, "--json", *options])
        self.events = self.lines

    def _keep(self, at, line):
        line = line.strip()
        if not line:
            return
        try:
            event = json.loads(line)
        except ValueError:
            event = {"code": None, "unreadable": line}
        event.setdefault("code", None)  # a command it sent ({"sent": ...}) has none
        event["at"] = at
        with self.lock:
            if event.get("code") == "AUDIO":
                self.audio_count += 1
                if not self.keep_audio:
                    return
            self.events.append(event)

    def blocks(self):
        with self.lock:
            return self.audio_count

    def since(self, start, code=None, key="code"):
        """The events from `start` on; those whose `key` is `code`, when given."""
        with self.lock:
            return [e for e in self.events
                    if e["at"] >= start and (code is None or e.get(key) == code)]

    def wait_for(self, start, code, argument=None, timeout=10.0, count=1, key="code",
                 required=True):
        """The first `count` events since `start` whose `key` is `code` (with `argument`);
        when they do not come within `timeout` seconds, fails the test, or with
        required=False returns None."""
        def found():
            events = [e for e in self.since(start, code, key)
                      if argument is None or e.get("argument") == argument]
            return events if len(events) >= count else None
        what = f"no {count} x {code} {'' if argument is None else argument}"
        return wait_until(found, timeout, what, 0.01,
                          self.session.fail if required else lambda _: None)


def wine(*args, env=None, timeout=60, **kwargs):
    """A Windows program run to its end under Wine, its output captured."""
    return subprocess.run(["wine", *args], env=env, capture_output=True, text=True,
                          timeout=timeout, **kwargs)


def interactive_settings(pid=1, silence_time=10.0, restore_time=0.5, wait=2, mixer=False):
    """Interactive mode on the virtual capture device at 48 kHz."""
    text = (f"[Settings]\nSourceMode=1\nPID={pid}\nUseSoundCard=1\n"
            f"UseMixer={1 if mixer else 0}\n"
            "[Soundcard]\nCard=Calvora Virtual Capture\nBitrate=48000\n"
            f"SilenceTime={silence_time}\nRestoreTime={restore_time}\nSilenceLevel=-40\n"
            f"Wait={wait}\n")
    if mixer:
        text += ("[Mixer]\nDevice0=Calvora Virtual Mixer\nRoot0=0\nLine0=1\nLevel0=40000\n"
                 "Wait=1\nFadeIn=0.2\nFadeOut=0.2\n")
    return text


def write_wav(path, frames, rate=RATE):
    """A 16-bit stereo WAV file of `frames` (bytes, or an array of interleaved samples)."""
    with wave.open(path, "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(frames)


@contextlib.contextmanager
def _ebur128(samples, mode, times=1, rate=RATE):
    """libebur128, through ctypes, having read the interleaved 16-bit stereo `samples` `times`
    over in `mode` (EBUR128_MODE_*): the library and its state, freed afterwards."""
    lib = ctypes.CDLL("libebur128.so.1")
    lib.ebur128_init.restype = ctypes.c_void_p
    lib.ebur128_init.argtypes = [ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
    lib.ebur128_add_frames_short.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t]
    lib.ebur128_loudness_shortterm.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_double)]
    lib.ebur128_true_peak.argtypes = [ctypes.c_void_p, ctypes.c_uint,
                                      ctypes.POINTER(ctypes.c_double)]
    lib.ebur128_destroy.argtypes = [ctypes.POINTER(ctypes.c_void_p)]
    state = ctypes.c_void_p(lib.ebur128_init(2, rate, mode))
    buffer = (ctypes.c_short * len(samples)).from_buffer_copy(samples)
    for _ in range(times):
        lib.ebur128_add_frames_short(state, buffer, len(samples) // 2)
    try:
        yield lib, state
    finally:
        lib.ebur128_destroy(ctypes.byref(state))


def short_term_loudness(samples, times):
    """libebur128's short-term loudness (LUFS) after the samples played `times` over."""
    loudness = ctypes.c_double()
    with _ebur128(samples, 3, times) as (lib, state):  # EBUR128_MODE_S
        lib.ebur128_loudness_shortterm(state, ctypes.byref(loudness))
    return loudness.value


def true_peaks(samples):
    """libebur128's true peak of each channel (left, right) in dBTP."""
    peaks = []
    with _ebur128(samples, 49) as (lib, state):  # EBUR128_MODE_TRUE_PEAK
        for channel in range(2):
            value = ctypes.c_double()
            lib.ebur128_true_peak(state, channel, ctypes.byref(value))
            peaks.append(20 * math.log10(value.value))
    return peaks


def decode_ogg(source, seconds=None, timeout=30):
    """Ogg Opus (a file or serve's /listen) decoded by ffmpeg: 16-bit stereo frames at 48 kHz
    as one array of interleaved samples, `seconds` of them when given."""
    limit = ["-t", str(seconds)] if seconds else []
    out = subprocess.run(["ffmpeg", "-v", "error", "-i", source, *limit, "-f", "s16le", "-ac",
                          "2", "-ar", "48000", "-"], capture_output=True, timeout=timeout)
    if out.returncode != 0:
        fail(f"ffmpeg cannot decode {source}: {out.stderr.decode(errors='replace')}")
    samples = array.array("h")
    samples.frombytes(out.stdout[:len(out.stdout) // 4 * 4])
    return samples


def rms_db(samples, channel, start, end, rate=48000):
    """The RMS level in dBFS of one channel (0 left, 1 right) of interleaved stereo samples from
    `start` to `end` seconds."""
    part = samples[int(start * rate) * 2 + channel:int(end * rate) * 2:2]
    if not part:
        return -200.0
    power = sum(x * x for x in part) / len(part)
    return 10 * math.log10(power / 32768 ** 2) if power > 0 else -200.0


def cpu_ms(pid):
    """CPU time of a process's living threads so far, in milliseconds, from the scheduler's
    nanosecond account (the clock-tick count in /proc/PID/stat is too coarse for idle costs)."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass  # a thread that ended meanwhile
    return total / 1e6


def rss_kib(pid):
    with open(f"/proc/{pid}/statm") as f:
        return int(f.read().split()[1]) * PAGE_KIB


def cpu_per_second(pid, seconds):
    """CPU milliseconds per wall-clock second of process `pid` over `seconds`."""
    c0, t0 = cpu_ms(pid), time.monotonic()
    time.sleep(seconds)
    c1, t1 = cpu_ms(pid), time.monotonic()
    return (c1 - c0) / (t1 - t0)


def thread_figures(pid):
    """Each living thread of `pid`: tid -> (name, CPU ns, voluntary context switches so far).
    A voluntary switch is the thread going to sleep, so each stands for one wake-up; the
    others are preemptions by other work on a busy machine and are left out."""
    threads = {}
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            base = f"/proc/{pid}/task/{task}"
            with open(f"{base}/comm") as f:
                name = f.read().strip()
            with open(f"{base}/schedstat") as f:
                cpu = int(f.read().split()[0])
            switches = 0
            with open(f"{base}/status") as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches"):
                        switches += int(line.split()[1])
            threads[int(task)] = (name, cpu, switches)
        except (FileNotFoundError, ProcessLookupError):
            pass  # a thread that ended meanwhile
    return threads
