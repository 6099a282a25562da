"""The real binaries on a private session bus and the virtual sound card: the program in
interactive mode, calvora-ctl peers, the card's controls and the process figures (CPU time,
resident memory) that the benchmarks and the reliability runs read.

Every run of a script that imports this module must sit under its own dbus-run-session
(`on_private_bus()` re-executes the script under one when it is not).
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

PAGE_KIB = os.sysconf("SC_PAGE_SIZE") // 1024


def on_private_bus():
    """Re-executes the running script under dbus-run-session unless it already is."""
    if os.environ.get("CALVORA_PRIVATE_BUS") == "1":
        return
    env = dict(os.environ, CALVORA_PRIVATE_BUS="1")
    os.execvpe("dbus-run-session", ["dbus-run-session", "--", sys.executable, *sys.argv], env)


class Binaries:
    """The paths of the built programs in a build folder."""

    def __init__(self, build):
        self.build = os.path.abspath(build)
        self.program = os.path.join(self.build, "src/app/calvora-audio-mixer")
        self.ctl = os.path.join(self.build, "tools/calvora-ctl/calvora-ctl")
        self.card_ctl = os.path.join(self.build, "virtual-card/calvora-virtual-capture-ctl")
        self.card_conf = os.path.join(self.build, "virtual-card/virtual-card.conf")

    def tool(self, relative):
        return os.path.join(self.build, relative)


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


class Session:
    """One working folder: the program's copy and settings, the virtual card's state, the
    children started, all removed by close()."""

    def __init__(self, binaries):
        self.bin = binaries
        self.work = tempfile.mkdtemp(prefix="calvora-rel-")
        self.env = dict(os.environ,
                        QT_QPA_PLATFORM="offscreen",
                        ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:" + binaries.card_conf,
                        CALVORA_VIRTUAL_CARD_DIR=os.path.join(self.work, "card"),
                        XDG_CONFIG_HOME=os.path.join(self.work, "config"),
                        XDG_CONFIG_DIRS=os.path.join(self.work, "xdg"))
        os.makedirs(self.env["CALVORA_VIRTUAL_CARD_DIR"])
        self.children = []
        self.app = None

    def close(self):
        for child in self.children:
            if child.poll() is None:
                child.kill()
                child.wait()
        shutil.rmtree(self.work, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def card(self, *args):
        subprocess.run([self.bin.card_ctl, *args], env=self.env, check=True)

    def ctl(self, *args, timeout=10, check=True):
        return subprocess.run([self.bin.ctl, *args], env=self.env, check=check,
                              capture_output=True, text=True, timeout=timeout).stdout.strip()

    def spawn(self, args, **kwargs):
        child = subprocess.Popen(args, env=self.env, **kwargs)
        self.children.append(child)
        return child

    def start_program(self, settings):
        """Starts the program with `settings` (INI text) beside its copy and waits until its
        window is on the bus."""
        program = os.path.join(self.work, "calvora-audio-mixer")
        shutil.copy(self.bin.program, program)
        with open(program + ".ini", "w") as ini:
            ini.write(settings)
        self.log = open(os.path.join(self.work, "program.log"), "w")
        self.app = self.spawn([program], stdout=self.log, stderr=subprocess.STDOUT)
        for _ in range(200):
            if self.ctl("list", check=False):
                return self.app
            if self.app.poll() is not None:
                break
            time.sleep(0.05)
        raise RuntimeError("the program's window never appeared on the bus:\n" + self.program_log())

    def program_log(self):
        with open(os.path.join(self.work, "program.log"), errors="replace") as log:
            return log.read()[-3000:]

    def discarded_bytes(self):
        """Captured audio the program threw away because no capture block was queued in
        time, from its warnings on stderr."""
        total = 0
        self.log.flush()
        with open(os.path.join(self.work, "program.log"), errors="replace") as log:
            for line in log:
                if "thrown away" in line and "bytes)" in line:
                    total += int(line.split("(")[1].split()[0])
        return total

    def window_handle(self):
        return int(self.ctl("list").split()[0])


def interactive_settings(silence_time=10.0, restore_time=0.5, wait=2, mixer=False):
    """Interactive mode (program ID 1) on the virtual capture device at 48 kHz."""
    text = ("[Settings]\nSourceMode=1\nPID=1\nUseSoundCard=1\n"
            f"UseMixer={1 if mixer else 0}\n"
            "[Soundcard]\nCard=Calvora Virtual Capture\nBitrate=48000\n"
            f"SilenceTime={silence_time}\nRestoreTime={restore_time}\nSilenceLevel=-40\n"
            f"Wait={wait}\n")
    if mixer:
        text += ("[Mixer]\nDevice0=Calvora Virtual Mixer\nRoot0=0\nLine0=1\nLevel0=40000\n"
                 "Wait=1\nFadeIn=0.2\nFadeOut=0.2\n")
    return text


class Watch:
    """`calvora-ctl watch --json` as a peer: every line it prints with its arrival time."""

    def __init__(self, session, levels_every=1, keep_audio=True):
        self.events = []
        self.audio_count = 0
        self.keep_audio = keep_audio
        self.lock = threading.Lock()
        self.proc = session.spawn([session.bin.ctl, "watch", "--json",
                                   "--levels-every", str(levels_every)],
                                  stdout=subprocess.PIPE, text=True)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stdout:
            event = json.loads(line)
            event["at"] = time.monotonic()
            with self.lock:
                if event["code"] == "AUDIO":
                    self.audio_count += 1
                    if not self.keep_audio:
                        continue
                self.events.append(event)

    def blocks(self):
        with self.lock:
            return self.audio_count

    def since(self, start, code=None):
        with self.lock:
            return [e for e in self.events
                    if e["at"] >= start and (code is None or e["code"] == code)]

    def wait_for(self, start, code, timeout=10.0, count=1):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = self.since(start, code)
            if len(found) >= count:
                return found
            time.sleep(0.005)
        return None


class QuietWatch:
    """`calvora-ctl watch` as a peer that receives every audio block and prints nothing, so
    that its own output and a reader beside it add no load to what is measured."""

    def __init__(self, session):
        self.proc = session.spawn([session.bin.ctl, "watch", "--levels-every", "1000000000"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


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
