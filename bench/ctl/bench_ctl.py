#!/usr/bin/env python3
"""What calvora-ctl's checks and its server cost, each against a baseline in the same run.

1. CPU per second of audio: `calvora-ctl serve` with every check on (and the metrics served),
   against `calvora-ctl watch --checks none` (the plain peer), both beside the same utility on
   the virtual card, over the same seconds. CPU is read in nanoseconds from
   /proc/PID/task/*/schedstat.
2. The time to answer /metrics and / on a new connection while 50 event streams and 20 idle
   connections are open, against the same with nothing else open; goal under 100 ms.
3. Listeners of /listen: serve's CPU per second and the blocks it analyses per second with 16
   and 64 listeners reading (from one address), against the same serve with one listener.
4. The time to answer /metrics with the right password, remembered since its first pass
   (`--web-config`, a bcrypt hash of cost 10), while 1 to 16 clients, each on an address of its
   own, guess passwords without pause, against the same with nobody guessing: each wrong guess
   costs a bcrypt on serve's check thread until its address has had its few tries (then 429).

Usage: bench_ctl.py PROGRAM CALVORA_CTL VIRTUAL_CAPTURE_CTL VIRTUAL_CARD_CONF [SECONDS]
"""
import base64
import os
import selectors
import socket
import statistics
import subprocess
import sys
import threading
import time

sys.dont_write_bytecode = True  # nothing compiled is left in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "tests", "support", "python"))
from harness import Binaries, Session, cpu_ms, interactive_settings  # noqa: E402


def timed_get(port, path):
    start = time.monotonic()
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(f"GET {path} HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n".encode())
        while s.recv(65536):
            pass
    return (time.monotonic() - start) * 1000


# A user of the password check's web configuration, with the bcrypt hash of its password.
USER, PASSWORD = "prometheus", "scrape"
PASSWORD_HASH = "$2y$10$2TbtT8yN6DghaLSlIRzA0OFRetUkOzUcb0cWvv1ji0BicseNcCG3a"


def basic(user, password):
    return base64.b64encode(f"{user}:{password}".encode()).decode()


def scrape_times_beside_guesses(port, guessers, rounds=20, network=1):
    """/metrics with the right password, while `guessers` clients send wrong ones, each from
    an address of its own in 127.0.NETWORK.0/24."""
    stop = threading.Event()

    def guess(n):
        while not stop.is_set():
            with socket.create_connection(("127.0.0.1", port),
                                          source_address=(f"127.0.{network}.{n + 1}", 0)) as c:
                c.sendall(f"GET /metrics HTTP/1.1\r\nHost: x\r\nAuthorization: Basic "
                          f"{basic(USER, 'guess')}\r\nConnection: close\r\n\r\n".encode())
                while c.recv(65536):
                    pass

    threads = [threading.Thread(target=guess, args=(n,), daemon=True) for n in range(guessers)]
    for t in threads:
        t.start()
    time.sleep(0.5)
    times = []
    for _ in range(rounds):
        start = time.monotonic()
        with socket.create_connection(("127.0.0.1", port), timeout=10) as c:
            c.sendall(f"GET /metrics HTTP/1.1\r\nHost: x\r\nAuthorization: Basic "
                      f"{basic(USER, PASSWORD)}\r\nConnection: close\r\n\r\n".encode())
            answer = b""
            while chunk := c.recv(65536):
                answer += chunk
        if not answer.startswith(b"HTTP/1.1 200"):
            sys.exit(f"bench_ctl: the right password was refused: {answer[:40]!r}")
        times.append((time.monotonic() - start) * 1000)
        time.sleep(0.05)
    stop.set()
    for t in threads:
        t.join(timeout=10)
    return times


class Listeners:
    """`count` clients reading /listen from 127.0.0.4, on one thread that takes all they get."""

    def __init__(self, port, count):
        self.socks = []
        for _ in range(count):
            c = socket.create_connection(("127.0.0.1", port), source_address=("127.0.0.4", 0))
            c.sendall(b"GET /listen HTTP/1.1\r\nHost: x\r\n\r\n")
            self.socks.append(c)
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        with selectors.DefaultSelector() as selector:
            for c in self.socks:
                selector.register(c, selectors.EVENT_READ)
            while not self.stop.is_set():
                for key, _ in selector.select(timeout=0.1):
                    try:
                        chunk = key.fileobj.recv(65536)
                    except OSError:
                        chunk = b""
                    if not chunk:
                        selector.unregister(key.fileobj)

    def close(self):
        self.stop.set()
        self.thread.join(timeout=5)
        for c in self.socks:
            c.close()


def listened_figures(s, serve, port, count, seconds):
    """serve's CPU ms per second and blocks analysed per second while `count` listen."""
    crowd = Listeners(port, count)
    s.wait_until(lambda: s.metrics(port)["calvora_listeners"] == count, 10,
                 f"{count} listeners did not all join")
    time.sleep(1)  # the joining done
    b0, c0, t0 = s.metrics(port)["calvora_audio_blocks_total"], cpu_ms(serve.pid), time.monotonic()
    time.sleep(seconds)
    b1, c1, t1 = s.metrics(port)["calvora_audio_blocks_total"], cpu_ms(serve.pid), time.monotonic()
    crowd.close()
    return (c1 - c0) / (t1 - t0), (b1 - b0) / (t1 - t0)


def answer_times(port, rounds=20):
    times = {"/metrics": [], "/": []}
    for _ in range(rounds):
        for path in times:
            times[path].append(timed_get(port, path))
        time.sleep(0.02)
    return times


def main(program, ctl, card_ctl, card_conf, seconds="20"):
    seconds = float(seconds)
    with Session(Binaries(program, ctl, card_ctl, card_conf), prefix="calvora-bench-ctl-") as s:
        s.card("programme", "tone", "-20")
        app = s.start(interactive_settings(7, silence_time=1, restore_time=0.5, wait=3))
        serve, port = s.serve()
        plain = subprocess.Popen([ctl, "watch", "--checks", "none"], env=s.env,
                                 stdout=subprocess.DEVNULL)
        s.children.append(plain)
        time.sleep(0.5)
        s.command("run")
        time.sleep(2)

        def blocks():  # serve names its station (this host) on every sample
            return s.metrics(port)["calvora_audio_blocks_total"]

        b0, c0 = blocks(), {p.pid: cpu_ms(p.pid) for p in (serve, plain)}
        t0 = time.monotonic()
        time.sleep(seconds)
        b1, c1 = blocks(), {p.pid: cpu_ms(p.pid) for p in (serve, plain)}
        elapsed = time.monotonic() - t0
        audio = (b1 - b0) / 100  # 10 ms blocks
        serve_ms = (c1[serve.pid] - c0[serve.pid]) / audio
        plain_ms = (c1[plain.pid] - c0[plain.pid]) / audio
        print(f"audio: {audio:.1f} s in {elapsed:.1f} s ({b1 - b0:.0f} blocks)")
        print(f"| CPU ms per s of audio, serve with every check (vs watch --checks none) "
              f"| {serve_ms:.2f} | {plain_ms:.2f} | {serve_ms / plain_ms:.2f}x |")

        alone = answer_times(port)
        # The crowd comes from other loopback addresses, as other hosts' browsers would: serve
        # lets one address hold 64 connections.
        streams = []
        for _ in range(50):
            c = socket.create_connection(("127.0.0.1", port), source_address=("127.0.0.2", 0))
            c.sendall(b"GET /events HTTP/1.1\r\nHost: x\r\n\r\n")
            streams.append(c)
        idle = [socket.create_connection(("127.0.0.1", port), source_address=("127.0.0.3", 0))
                for _ in range(20)]
        time.sleep(0.5)
        crowded = answer_times(port)
        for path in ("/metrics", "/"):
            for label, values in (("median", statistics.median), ("max", max)):
                print(f"| {path} answer ms, {label} of 20, 50 streams + 20 idle open "
                      f"(vs nothing open) | {values(crowded[path]):.2f} "
                      f"| {values(alone[path]):.2f} | goal < 100 ms |")
        c2 = cpu_ms(serve.pid)
        time.sleep(5)
        print(f"| CPU ms per s, serve with 50 streams open | "
              f"{(cpu_ms(serve.pid) - c2) / 5:.2f} | {serve_ms:.2f} (no stream) | |")
        for c in streams + idle:
            c.close()

        listened, listened_port = s.serve("--listen-max", "64")
        one = listened_figures(s, listened, listened_port, 1, seconds / 2)
        for count in (16, 64):
            many = listened_figures(s, listened, listened_port, count, seconds / 2)
            print(f"| CPU ms per s, serve with {count} listeners (vs 1 listener) "
                  f"| {many[0]:.2f} | {one[0]:.2f} | {many[0] / one[0]:.2f}x |")
            print(f"| blocks analysed per s, {count} listeners (vs 1 listener) "
                  f"| {many[1]:.1f} | {one[1]:.1f} | card: 100 |")
        listened.terminate()
        listened.wait(timeout=10)

        web_config = os.path.join(s.work, "web.yml")
        with open(web_config, "w") as f:
            f.write(f"basic_auth_users:\n  {USER}: '{PASSWORD_HASH}'\n")
        guarded, guarded_port = s.serve("--web-config", web_config)
        scrape_times_beside_guesses(guarded_port, 0, rounds=2)  # the right password remembered
        alone = scrape_times_beside_guesses(guarded_port, 0)
        # Each round's guessers come from addresses not yet seen, which may each try a few
        # passwords before they are refused.
        for network, guessers in enumerate((1, 2, 4, 8, 16), start=1):
            guessed = scrape_times_beside_guesses(guarded_port, guessers, network=network)
            ratio = statistics.median(guessed) / statistics.median(alone)
            print(f"| /metrics ms with the remembered password, median (max) of 20, {guessers} "
                  f"clients guessing (vs none) | {statistics.median(guessed):.2f} "
                  f"({max(guessed):.2f}) | {statistics.median(alone):.2f} ({max(alone):.2f}) "
                  f"| {ratio:.2f}x |")
        for peer in (serve, plain, guarded):
            peer.terminate()
            peer.wait(timeout=10)
        s.close(app)


if __name__ == "__main__":
    main(*sys.argv[1:])
