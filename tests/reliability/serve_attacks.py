"""calvora-ctl serve against a hostile client, on 127.0.0.1 beside the running utility: each
attack in turn, with scrapes of /metrics beside it (from 127.0.0.1, while the attackers come
from other loopback addresses, as they would from other hosts) and serve's memory sampled.
Prints what held and a table of the figures: serve's memory and the scrapes' times during each
attack, beside the same scrapes with nothing else open. Then a serve with passwords, and its
end on SIGTERM while their checks are under way and waiting (how guessers leave a remembered
scrape alone is the server's unit test's)."""
import base64
import os
import resource
import socket
import statistics
import threading
import time

import harness

ATTACKER = "127.0.0.2"
IDLE_LIMIT = 5.0  # serve's: a request must come whole within it
PER_ADDRESS = 64  # serve's connection limits
IN_ALL = 512
# What serve may grow by, beyond its memory with nothing open, under any attack.
MEMORY_BOUND_KIB = 24 * 1024
# AddressSanitizer keeps freed memory in its quarantine (256 MB unless told otherwise) before it
# reuses any, so under it serve's size grows by up to that much more, whatever serve holds.
ASAN_QUARANTINE_KIB = 256 * 1024 if "ASAN_OPTIONS" in os.environ else 0


def connect(port, source="127.0.0.1", receive_buffer=None, blocking=True):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    if receive_buffer:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
    s.bind((source, 0))
    if blocking:
        s.settimeout(5)
        s.connect(("127.0.0.1", port))
    else:
        s.setblocking(False)
        s.connect_ex(("127.0.0.1", port))
    return s


def read_until_closed(s, timeout):
    """What arrives until the peer closes (closed=True) or `timeout` seconds pass."""
    s.settimeout(0.1)
    data, deadline = b"", time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            chunk = s.recv(65536)
        except socket.timeout:
            continue
        except OSError:
            return data, True
        if not chunk:
            return data, True
        data += chunk
    return data, False


def request(path, *headers, version="HTTP/1.1"):
    return (f"GET {path} {version}\r\nHost: station\r\n" + "".join(h + "\r\n" for h in headers)
            + "\r\n").encode()


def answers(data):
    """The (status line, headers, body) of each whole answer in `data`, in order."""
    found = []
    while b"\r\n\r\n" in data:
        head, rest = data.split(b"\r\n\r\n", 1)
        lines = head.decode("latin-1").split("\r\n")
        headers = {k.lower(): v.strip() for k, v in (line.split(":", 1) for line in lines[1:])}
        length = int(headers.get("content-length", 0))
        if len(rest) < length:
            break
        found.append((lines[0], headers, rest[:length]))
        data = rest[length:]
    return found


def scrape(port):
    """One scrape of /metrics on a new connection: (seconds, answered whole with 200)."""
    start = time.monotonic()
    try:
        s = connect(port)
        s.sendall(request("/metrics", "Connection: close"))
        data, closed = read_until_closed(s, 5)
        s.close()
    except OSError:
        return time.monotonic() - start, False
    whole = answers(data)
    ok = closed and len(whole) == 1 and whole[0][0] == "HTTP/1.1 200 OK" and \
        b"calvora_audio_blocks_total" in whole[0][2]
    return time.monotonic() - start, ok


def metric(port, name):
    s = connect(port)
    s.sendall(request("/metrics", "Connection: close"))
    data, _ = read_until_closed(s, 5)
    s.close()
    for line in data.decode(errors="replace").splitlines():
        if line.startswith(name + "{") or line.startswith(name + " "):
            return float(line.rsplit(" ", 1)[1])
    return None


class Run:
    def __init__(self, session, serve, port):
        self.s, self.serve, self.port, self.pid = session, serve, port, serve.pid
        self.rows = []
        self.baseline_kib = None

    def check(self, holds, text):
        if not holds:
            self.s.fail(text)
        print("ok:", text)

    def scrapes_beside(self, seconds, what):
        """Scrapes every 100 ms for `seconds` with serve's memory sampled: a row of figures."""
        times, failed, peak = [], 0, 0
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            took, ok = scrape(self.port)
            if ok:
                times.append(took)
            else:
                failed += 1
            peak = max(peak, harness.rss_kib(self.pid))
            time.sleep(0.1)
        if self.baseline_kib is None:
            self.baseline_kib = peak
        row = (what, peak, statistics.median(times) * 1000 if times else float("nan"),
               max(times) * 1000 if times else float("nan"), len(times), failed)
        self.rows.append(row)
        return row

    def wait_connections(self, count, timeout, what):
        """Waits until serve has `count` connections open besides the scrape that asks."""
        def open_now():
            return metric(self.port, "calvora_http_connections") == count + 1
        return harness.wait_until(open_now, timeout, what, interval=0.1, on_timeout=self.s.fail)

    def print_figures(self):
        print(f"\n{'attack':58} {'serve RSS':>10} {'scrape median':>14} {'worst':>9} "
              f"{'answered':>9}")
        for what, peak, median, worst, answered, failed in self.rows:
            print(f"{what:58} {peak / 1024:7.1f} MB {median:11.2f} ms {worst:6.1f} ms "
                  f"{answered:>4} of {answered + failed}")


def pipelined(run):
    paths = ["/status", "/metrics"] * 5
    s = connect(run.port, ATTACKER)
    start = time.monotonic()
    s.sendall(b"".join(request(p) for p in paths))
    data, got = b"", []
    while len(got) < len(paths) and time.monotonic() - start < 2:
        try:
            data += s.recv(65536)
        except socket.timeout:
            break
        got = answers(data)
    took = time.monotonic() - start
    s.close()
    types = [h.get("content-type", "") for _, h, _ in got]
    expected = ["application/json" if p == "/status" else "text/plain; version=0.0.4; charset=utf-8"
                for p in paths]
    run.check(types == expected and took < 0.5,
              f"10 requests in one write: {len(got)} answers, in order, in {took * 1000:.0f} ms")


def half_closed(run):
    answered = 0
    for _ in range(30):
        s = connect(run.port, ATTACKER)
        s.sendall(request("/status"))
        s.shutdown(socket.SHUT_WR)
        data, closed = read_until_closed(s, 3)
        s.close()
        answered += closed and len(answers(data)) == 1 and data.startswith(b"HTTP/1.1 200 OK")
    run.check(answered == 30, f"a request followed by a half-close: answered {answered} of 30")


def flood(run, seconds):
    """Clients that pipeline requests without ever reading the answers."""
    stop = threading.Event()
    sent = [0]

    def flooder():
        s = connect(run.port, ATTACKER)
        s.settimeout(0.2)
        burst = request("/metrics") * 200
        while not stop.is_set():
            try:
                sent[0] += s.send(burst)
            except socket.timeout:
                continue
            except OSError:
                break  # closed by serve
        s.close()
    threads = [threading.Thread(target=flooder) for _ in range(4)]
    for t in threads:
        t.start()
    row = run.scrapes_beside(seconds, "4 clients pipelining requests, never reading")
    stop.set()
    for t in threads:
        t.join()
    grown, bound = row[1] - run.baseline_kib, MEMORY_BOUND_KIB + ASAN_QUARANTINE_KIB
    run.check(grown < bound and row[3] < 500 and row[5] == 0,
              f"pipelined flood ({sent[0] / 1e6:.1f} MB sent): serve grew {grown / 1024:.1f} MB "
              f"(bound {bound // 1024} MB), scrapes beside it {row[3]:.0f} ms at worst")


def many_connections(run):
    # 600 from one address: the limit per address holds, the scrapes go on.
    crowd = [connect(run.port, ATTACKER, blocking=False) for _ in range(600)]
    time.sleep(0.5)
    row = run.scrapes_beside(2, "600 connections from one address")
    open_now = metric(run.port, "calvora_http_connections") - 1
    run.check(open_now <= PER_ADDRESS and row[5] == 0,
              f"600 connections from one address: {open_now:.0f} open (limit {PER_ADDRESS}), "
              f"scrapes {row[3]:.0f} ms at worst")
    for s in crowd:
        s.close()
    run.wait_connections(0, 8, "the 600 connections were not all released")
    # 600 from ten addresses that never send a request: the limit in all holds, the oldest
    # are closed as new ones come so that room is kept for the scrapes, and everything is
    # released when they go.
    crowd = [connect(run.port, f"127.0.0.{10 + i // 60}", blocking=False) for i in range(600)]
    time.sleep(2.0)
    fds = len(os.listdir(f"/proc/{run.pid}/fd"))
    row = run.scrapes_beside(1, "600 connections from ten addresses")
    run.check(row[5] == 0 and row[3] < 500,
              f"600 connections from ten addresses: scrapes {row[3]:.0f} ms at worst, "
              f"{row[5]} unanswered")
    for s in crowd:
        s.close()
    start = time.monotonic()
    run.wait_connections(0, 8, "the connections from ten addresses were not all released")
    released = time.monotonic() - start
    run.check(fds <= IN_ALL + 40,
              f"600 connections from ten addresses: serve held {fds} descriptors (limit "
              f"{IN_ALL} connections), all released {released:.1f} s after they closed")


def slow_sender(run):
    took = []

    def send_slowly():
        s = connect(run.port, ATTACKER)
        start, closed_at = time.monotonic(), None
        for byte in request("/metrics")[:-1]:
            try:
                s.send(bytes([byte]))
            except OSError:
                closed_at = time.monotonic()
                break
            time.sleep(0.3)
            if read_until_closed(s, 0.01)[1]:
                closed_at = time.monotonic()
                break
        s.close()
        took.append(closed_at - start if closed_at else None)
    sender = threading.Thread(target=send_slowly)
    sender.start()
    run.scrapes_beside(IDLE_LIMIT, "a client sending a byte every 300 ms")
    sender.join()
    run.check(took[0] is not None and IDLE_LIMIT <= took[0] < IDLE_LIMIT + 1.5,
              f"a byte every 300 ms: closed after {took[0] or 0:.1f} s (idle limit "
              f"{IDLE_LIMIT:.0f} s)")


def streams_never_read(run, seconds):
    before = metric(run.port, "calvora_http_dropped_slow_clients_total")
    streams = []
    for _ in range(10):
        s = connect(run.port, ATTACKER, receive_buffer=2048)
        s.sendall(request("/events"))
        streams.append(s)
    start = time.monotonic()
    run.scrapes_beside(seconds, "10 event streams never read (2 KB receive buffers)")
    harness.wait_until(
        lambda: metric(run.port, "calvora_http_dropped_slow_clients_total") >= before + 10, 60,
        "the streams that never read were not dropped", interval=0.5, on_timeout=run.s.fail)
    took = time.monotonic() - start
    run.wait_connections(0, 3, "the dropped streams' connections were not closed")
    for s in streams:
        s.close()
    run.check(True, f"10 event streams that never read were dropped and counted {took:.0f} s "
              "after they stopped reading, their connections closed")


def descriptor_limit(run):
    soft, hard = resource.prlimit(run.pid, resource.RLIMIT_NOFILE)
    in_use = len(os.listdir(f"/proc/{run.pid}/fd"))
    resource.prlimit(run.pid, resource.RLIMIT_NOFILE, (in_use + 8, hard))
    crowd = [connect(run.port, "127.0.0.3", blocking=False) for _ in range(50)]
    time.sleep(1.0)
    cpu = harness.cpu_per_second(run.pid, 3.0)
    run.scrapes_beside(1, "descriptors used up, 50 clients waiting (scrapes wait)")
    for s in crowd:
        s.close()
    resource.prlimit(run.pid, resource.RLIMIT_NOFILE, (soft, hard))
    answered = harness.wait_until(lambda: scrape(run.port)[1], IDLE_LIMIT + 3,
                                  "no scrape answered after the descriptors came back",
                                  on_timeout=run.s.fail)
    run.check(cpu < 150 and answered,
              f"descriptors used up ({in_use + 8} allowed, 50 clients waiting): serve used "
              f"{cpu:.0f} ms of CPU per s, and answers again once they are back")


def refused(run):
    host = "Host: station\r\n"
    cases = [
        ("a head of 100 KB", b"GET /metrics HTTP/1.1\r\n" + host.encode() + b"X: " +
         b"x" * 100000 + b"\r\n\r\n", "431"),
        ("a target of 20 KB", b"GET /" + b"a" * 20000 + b" HTTP/1.1\r\n" + host.encode() +
         b"\r\n", "414"),
        ("no Host", b"GET /metrics HTTP/1.1\r\n\r\n", "400"),
        ("two Hosts", b"GET /metrics HTTP/1.1\r\n" + host.encode() * 2 + b"\r\n", "400"),
        ("HTTP/9.9", b"GET /metrics HTTP/9.9\r\n" + host.encode() + b"\r\n", "505"),
        ("no version", b"GET /metrics\r\n\r\n", "400"),
        ("a header line without a colon", b"GET /metrics HTTP/1.1\r\n" + host.encode() +
         b"nonsense\r\n\r\n", "400"),
        ("POST", b"POST /metrics HTTP/1.1\r\n" + host.encode() + b"Content-Length: 2\r\n\r\nab",
         "405"),
        # Refused before the body comes, however slowly it would.
        ("a GET announcing a body of 100 kB", b"GET /metrics HTTP/1.1\r\n" + host.encode() +
         b"Content-Length: 100000\r\n\r\nx", "400"),
        ("a GET with a chunked body", b"GET /metrics HTTP/1.1\r\n" + host.encode() +
         b"Transfer-Encoding: chunked\r\n\r\n1\r\n", "400"),
    ]
    for what, text, status in cases:
        s = connect(run.port, ATTACKER)
        s.sendall(text)
        data, closed = read_until_closed(s, 3)
        s.close()
        line = data.split(b"\r\n", 1)[0].decode(errors="replace")
        run.check(line.startswith(f"HTTP/1.1 {status} ") and closed, f"{what}: {line}, closed")


# A user of the password check, with a bcrypt hash of its password at cost 12 (the most serve
# takes).
USER = "prometheus"
HASH_COST_12 = "$2b$12$.n2SRnI5zoDYUVEw8gK9N.yo0YBa2xZUM/91t7DO3n9ORrBzotHwW"


def with_password(path, user, password):
    token = base64.b64encode(f"{user}:{password}".encode()).decode()
    return request(path, f"Authorization: Basic {token}", "Connection: close")


def serve_with_password(s, hash_):
    web_config = os.path.join(s.work, "web.yml")
    with open(web_config, "w") as f:
        f.write(f"basic_auth_users:\n  {USER}: '{hash_}'\n")
    return s.serve("--station", "attacks", "--web-config", web_config)


def ends_while_checks_wait(s):
    """SIGTERM while password checks of cost 12 are under way and waiting: serve ends within
    a second."""
    serve, port = serve_with_password(s, HASH_COST_12)
    descriptors = len(os.listdir(f"/proc/{serve.pid}/fd"))
    crowd = []
    for n in range(1, 9):
        c = connect(port, f"127.0.2.{n}")
        c.sendall(with_password("/metrics", USER, "guess"))
        crowd.append(c)
    harness.wait_until(lambda: len(os.listdir(f"/proc/{serve.pid}/fd")) >= descriptors + 8, 3,
                       "serve did not take the 8 connections", interval=0.02,
                       on_timeout=s.fail)
    start = time.monotonic()
    serve.terminate()
    serve.wait(timeout=10)
    took = time.monotonic() - start
    for c in crowd:
        c.close()
    if took >= 1.0:
        s.fail(f"SIGTERM with password checks under way ended serve after {took:.1f} s")
    print(f"ok: SIGTERM with 8 checks of cost 12 under way and waiting: serve ended after "
          f"{took * 1000:.0f} ms")


def serve_attacks(bin, long, running):
    with harness.Session(bin, prefix="calvora-rel-") as s:
        running(s)
        serve, port = s.serve("--station", "attacks")
        run = Run(s, serve, port)
        time.sleep(1.0)
        run.scrapes_beside(3, "nothing else open")
        pipelined(run)
        half_closed(run)
        flood(run, 20 if long else 8)
        run.wait_connections(0, 15, "the flooders' connections were not closed")
        many_connections(run)
        slow_sender(run)
        streams_never_read(run, 20 if long else 5)
        refused(run)
        descriptor_limit(run)
        run.scrapes_beside(3, "after it all, nothing else open")
        run.wait_connections(0, 3, "connections are left open after it all")
        if serve.poll() is not None:
            s.fail("calvora-ctl serve ended")
        run.print_figures()
        ends_while_checks_wait(s)
