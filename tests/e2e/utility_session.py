"""One run of the real utility for end-to-end tests: a copy of the program with its settings file
in a folder of its own, the virtual sound card through ALSA_CONFIG_PATH, offscreen Qt, and
calvora-ctl as the controlling program on the session bus the test runs in."""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time


class Session:
    def __init__(self, program, ctl, card_ctl, card_conf, prefix="calvora-e2e-"):
        self.program, self.ctl, self.card_ctl = program, ctl, card_ctl
        self.work = tempfile.mkdtemp(prefix=prefix)
        self.env = dict(os.environ,
                        QT_QPA_PLATFORM="offscreen",
                        ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:" + card_conf,
                        CALVORA_VIRTUAL_CARD_DIR=os.path.join(self.work, "card"),
                        XDG_CONFIG_HOME=os.path.join(self.work, "config"),
                        XDG_CONFIG_DIRS=os.path.join(self.work, "xdg"))
        os.makedirs(self.env["CALVORA_VIRTUAL_CARD_DIR"])
        self.children = []
        self.executable = os.path.join(self.work, "calvora-audio-mixer")
        shutil.copy(program, self.executable)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for child in self.children:
            if child.poll() is None:
                child.kill()
        shutil.rmtree(self.work, ignore_errors=True)

    def fail(self, text):
        print("FAIL:", text, file=sys.stderr)
        try:
            with open(os.path.join(self.work, "out.log"), errors="replace") as log:
                sys.stderr.write(log.read()[-3000:])
        except OSError:
            pass
        sys.exit(1)

    def card(self, *args):
        """Tells the virtual capture device what to play (or to vanish, or to come back)."""
        subprocess.run([self.card_ctl, *args], env=self.env, check=True)

    def command(self, *args):
        """Runs calvora-ctl and returns what it printed."""
        return subprocess.run([self.ctl, *args], env=self.env, check=True, capture_output=True,
                              text=True, timeout=10).stdout.strip()

    def start(self, ini_text):
        """Writes the settings file beside the program's copy, starts it and waits until its
        window is on the bus."""
        with open(self.executable + ".ini", "w") as ini:
            ini.write(ini_text)
        log = open(os.path.join(self.work, "out.log"), "w")
        app = subprocess.Popen([self.executable], env=self.env, stdout=log,
                               stderr=subprocess.STDOUT)
        self.children.append(app)
        for _ in range(100):
            if subprocess.run([self.ctl, "list"], env=self.env, capture_output=True,
                              text=True).stdout.strip():
                return app
            time.sleep(0.1)
        self.fail("the window never appeared on the bus")

    def close(self, app):
        """Ends the program as the session's end does and expects a clean exit."""
        app.send_signal(signal.SIGTERM)
        if app.wait(timeout=10) != 0:
            self.fail("non-zero exit after SIGTERM")

    def watch(self, *options):
        """A calvora-ctl watch peer, admitted by the utility's next 100 ms scan."""
        watch = Watch(self, options)
        time.sleep(0.5)
        return watch


class Watch:
    """calvora-ctl watch as a peer: every line it prints, with the time it arrived."""

    def __init__(self, session, options=()):
        self.session = session
        self.events = []
        self.lock = threading.Lock()
        self.proc = subprocess.Popen([session.ctl, "watch", "--json", *options], env=session.env,
                                     stdout=subprocess.PIPE, text=True)
        session.children.append(self.proc)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            event = json.loads(line)
            event["at"] = time.monotonic()
            with self.lock:
                self.events.append(event)

    def since(self, start, code=None):
        with self.lock:
            return [e for e in self.events
                    if e["at"] >= start and (code is None or e["code"] == code)]

    def wait_for(self, start, code, argument=None, timeout=10.0, count=1):
        """The first `count` events of `code` (and `argument`) since `start`; fails the test
        when they do not come within `timeout` seconds."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = [e for e in self.since(start, code)
                     if argument is None or e.get("argument") == argument]
            if len(found) >= count:
                return found
            time.sleep(0.01)
        self.session.fail(f"no {count} x {code} {argument} within {timeout} s")
