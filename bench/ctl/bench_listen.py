#!/usr/bin/env python3
"""What listening in and the clips of events cost calvora-ctl serve, against a plain peer in the
same run: the utility on the virtual card (a -20 dBFS tone, 48 kHz, 10 ms blocks) with three
peers beside it over the same seconds: `serve` (checks off, so that only the audio's own work
differs), `serve --clips DIR` and `watch --checks none`.

1. CPU per second of audio (from /proc/PID/task/*/schedstat): serve with nobody listening, with
   one listener reading /listen, and serve with clips on, each against the plain watch.
2. The bytes a listener receives per second.
3. Serve's resident memory while a listener joins for 5 s and leaves for 5 s, over MINUTES: the
   first and last readings and the highest.

Usage: bench_listen.py PROGRAM CALVORA_CTL VIRTUAL_CAPTURE_CTL VIRTUAL_CARD_CONF [SECONDS] [MINUTES]
"""
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True  # nothing compiled is left in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "tests", "support", "python"))
from harness import Binaries, Session, cpu_ms, interactive_settings, rss_kib  # noqa: E402


class Listener:
    """A client reading /listen on a thread of its own, counting the bytes."""

    def __init__(self, port):
        self.bytes = 0
        self.stop = threading.Event()
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.sock.sendall(b"GET /listen HTTP/1.1\r\nHost: x\r\n\r\n")
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        while not self.stop.is_set():
            try:
                chunk = self.sock.recv(65536)
            except OSError:
                break
            if not chunk:
                break
            self.bytes += len(chunk)

    def close(self):
        self.stop.set()
        self.sock.shutdown(socket.SHUT_RDWR)  # the reading thread sees the end
        self.thread.join(timeout=5)
        self.sock.close()


def cpu_per_second(pids, seconds):
    before = {pid: cpu_ms(pid) for pid in pids}
    time.sleep(seconds)
    return {pid: (cpu_ms(pid) - before[pid]) / seconds for pid in pids}


def main(program, ctl, card_ctl, card_conf, seconds="20", minutes="10"):
    seconds, minutes = float(seconds), float(minutes)
    with Session(Binaries(program, ctl, card_ctl, card_conf), prefix="calvora-bench-listen-") as s:
        s.card("programme", "tone", "-20")
        app = s.start(interactive_settings(7, silence_time=1, restore_time=0.5, wait=3))
        serve, port = s.serve("--checks", "none")
        clips = tempfile.mkdtemp(dir=s.work)
        with_clips, _ = s.serve("--checks", "none", "--clips", clips)
        plain = subprocess.Popen([ctl, "watch", "--checks", "none"], env=s.env,
                                 stdout=subprocess.DEVNULL)
        s.children.append(plain)
        time.sleep(0.5)
        s.command("run")
        time.sleep(2)
        pids = (serve.pid, with_clips.pid, plain.pid)

        quiet = cpu_per_second(pids, seconds)
        listener = Listener(port)
        time.sleep(1)
        start_bytes, start = listener.bytes, time.monotonic()
        heard = cpu_per_second(pids, seconds)
        rate = (listener.bytes - start_bytes) / (time.monotonic() - start)
        listener.close()

        def row(figure, value, baseline):
            print(f"| {figure:<62} | {value:8.2f} | {baseline:8.2f} | {value / baseline:5.2f}x |")

        print("| Figure (CPU ms per s of audio)                                 | serve    "
              "| watch    | Ratio  |")
        row("serve, nobody listening (vs watch --checks none)", quiet[serve.pid],
            quiet[plain.pid])
        row("serve, one listener at 64 kb/s (vs watch --checks none)", heard[serve.pid],
            heard[plain.pid])
        row("serve --clips, no event (vs watch --checks none)", quiet[with_clips.pid],
            quiet[plain.pid])
        print(f"listener: {rate / 1024:.2f} KiB/s ({rate * 8 / 1000:.1f} kb/s with the Ogg pages)")

        readings = []
        end = time.monotonic() + minutes * 60
        while time.monotonic() < end:
            listener = Listener(port)
            time.sleep(5)
            listener.close()
            time.sleep(5)
            readings.append(rss_kib(serve.pid))
        print(f"serve's memory over {minutes:g} min, a listener joining and leaving every 10 s: "
              f"{readings[0]} KiB first, {readings[-1]} KiB last, {max(readings)} KiB highest "
              f"({len(readings)} readings)")
        print("readings (KiB):", " ".join(str(r) for r in readings))
        for proc in (serve, with_clips):
            proc.terminate()
            proc.wait(timeout=10)
        s.close(app)


if __name__ == "__main__":
    main(*sys.argv[1:7])
