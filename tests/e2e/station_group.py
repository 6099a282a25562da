#!/usr/bin/env python3
"""A group of two stations watched by a real Prometheus and a real Alertmanager: two utilities,
each on its own virtual card and session bus with `calvora-ctl serve --station` on its own port
("studio-a" and "studio-b"); Prometheus scrapes both every second and evaluates the shipped alert
rules; Alertmanager routes to a webhook receiver run here. Studio-a serves plain HTTP; studio-b
serves https with basic authentication from a web configuration (`--web-config`), its certificate
made here with certtool, and curl with that certificate gets 401 without the password or with a
wrong one and 200 with the right one. Studio-b's programme turns silent: the receiver gets a
firing dead-air alert naming studio-b and nothing for studio-a; sound comes back: the receiver
gets the resolved alert. Prints the time from the utility's verdict to the webhook and how much
of it is the rule's for:. A web configuration that cannot be used stops serve at start.

With the Windows build's programs given too, a third station "windows-1" runs under Wine:
calvora-audio-mixer.exe on the same kind of virtual card (Wine's "In: default") with
calvora-ctl.exe serve beside it, scraped by the same Prometheus over plain HTTP.

Everything listens on 127.0.0.1 (Alertmanager's cluster port is off), keeps its data in a
private folder and is ended here. Skipped (exit 77) where Prometheus, Alertmanager or certtool
(gnutls-bin) is missing.

Usage: station_group.py PROGRAM CALVORA_CTL VIRTUAL_CAPTURE_CTL VIRTUAL_CARD_CONF RULES_FILE
                        [PROGRAM.exe CALVORA_CTL.exe WINE_DEFAULT_CONF]
"""
import http.server
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time
import urllib.parse
import urllib.request

from harness import Binaries, Session, interactive_settings

program, ctl, card_ctl, card_conf, rules = sys.argv[1:6]
windows = sys.argv[6:9]  # the Windows station's programs and Wine's ALSA default, when given
SILENCE_TIME, RESTORE_TIME = 2, 1
TONE = ("programme", "tone", "-20", "1000")

PROMETHEUS, ALERTMANAGER = shutil.which("prometheus"), shutil.which("prometheus-alertmanager")
CERTTOOL, CURL = shutil.which("certtool"), shutil.which("curl")
if not PROMETHEUS or not ALERTMANAGER or not CERTTOOL or not CURL:
    print("SKIP: prometheus, prometheus-alertmanager, certtool or curl is missing (apt-get install "
          "prometheus prometheus-alertmanager gnutls-bin curl, or scripts/install-deps.sh)")
    sys.exit(77)

# Studio-b's user; the hash made with `htpasswd -nbBC 10 prometheus 'scrape studio-b'`.
USER, PASSWORD = "prometheus", "scrape studio-b"
PASSWORD_HASH = "$2y$10$6Eqih5PWrmlElVyXvBsJuuxFVzaVZ7dSwODZlmv.aY0cA/a4hLB.y"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def rule_for_seconds(alert):
    text = open(rules).read()
    block = text[text.index(f"alert: {alert}"):]
    value = re.search(r"\n\s+for: (\d+)(s|m)\n", block)
    return int(value.group(1)) * (60 if value.group(2) == "m" else 1)


class Receiver(http.server.ThreadingHTTPServer):
    """The webhook receiver: each alert of each notification with the time it arrived."""

    def __init__(self):
        self.alerts, self.lock = [], threading.Lock()
        super().__init__(("127.0.0.1", 0), ReceiverHandler)
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def wait_for(self, predicate, what, timeout, fail):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with self.lock:
                found = [a for a in self.alerts if predicate(a)]
            if found:
                return found[0]
            time.sleep(0.02)
        fail(f"no {what} at the webhook within {timeout} s; it got {self.alerts}")


class ReceiverHandler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = json.loads(self.rfile.read(int(self.headers["Content-Length"])))
        arrived = time.monotonic()
        with self.server.lock:
            for alert in body["alerts"]:
                self.server.alerts.append(dict(alert, arrived=arrived))
        self.send_response(200)
        self.end_headers()

    def log_message(self, *args):
        pass


class Station:
    """One studio: its session bus, its utility on its virtual card, a watch peer for the
    verdicts' times and `calvora-ctl serve --station NAME` on a port of its own, with the
    `serve_options` given (a web configuration)."""

    def __init__(self, name, serve_options=(), windows=None):
        self.name, self.serve_options, self.windows = name, list(serve_options), windows
        if windows:
            # Under Wine: the programs talk with window messages, and need no bus.
            self.session = Session(Binaries(windows[0], windows[1], card_ctl, card_conf),
                                   prefix=f"calvora-{name}-", wine_conf=windows[2])
            return
        self.session = Session(Binaries(program, ctl, card_ctl, card_conf),
                               prefix=f"calvora-{name}-")
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.session.children.append(bus)
        self.session.env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()

    def start(self):
        s = self.session
        s.card(*TONE)
        settings = interactive_settings(5, SILENCE_TIME, RESTORE_TIME, wait=3)
        if self.windows:
            # A first start in a fresh Wine prefix takes a while.
            s.start(settings.replace("Calvora Virtual Capture", "In: default"), timeout=60)
        else:
            s.start(settings)
        self.watch = s.watch()
        s.command("run")
        self.server, self.port = s.serve("--station", self.name, *self.serve_options)


def make_web_config(folder):
    """A self-signed certificate for 127.0.0.1 and its key, and the web configuration that names
    them (relative to its own folder) with one user: the configuration's path."""
    os.makedirs(folder)
    with open(os.path.join(folder, "template"), "w") as f:
        f.write("cn = studio-b\nip_address = 127.0.0.1\ndns_name = localhost\n"
                "expiration_days = 2\ntls_www_server\nsigning_key\n")
    for args in (["--generate-privkey", "--key-type=ecdsa", "--outfile", "studio-b.key"],
                 ["--generate-self-signed", "--load-privkey", "studio-b.key",
                  "--template", "template", "--outfile", "studio-b.crt"]):
        subprocess.run([CERTTOOL, *args], cwd=folder, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    with open(os.path.join(folder, "web.yml"), "w") as f:
        f.write(f"""tls_server_config:
  cert_file: studio-b.crt
  key_file: studio-b.key
basic_auth_users:
  {USER}: '{PASSWORD_HASH}'
""")
    return os.path.join(folder, "web.yml")


def check_unusable_web_config(folder, fail):
    """serve with a web configuration naming a key file that is not there ends at once with
    status 1, naming the configuration and the line."""
    bad = os.path.join(folder, "bad.yml")
    with open(bad, "w") as f:
        f.write("tls_server_config:\n  cert_file: studio-b.crt\n  key_file: gone.key\n")
    ended = subprocess.run([ctl, "serve", "--listen", "127.0.0.1:0", "--web-config", bad],
                           capture_output=True, text=True, timeout=10)
    if ended.returncode != 1 or f"{bad}:3: key_file" not in ended.stderr:
        fail(f"serve with {bad} ended {ended.returncode} saying {ended.stderr!r}")
    print(f"ok: an unusable web configuration stops serve: {ended.stderr.strip()}")


def check_https(port, cert, fail):
    """curl with the station's certificate: 401 with WWW-Authenticate without the password or
    with a wrong one, 200 with the metrics with the right one; plain HTTP gets no metrics."""
    url = f"https://127.0.0.1:{port}/metrics"

    def curl(*options):
        done = subprocess.run([CURL, "-sS", "--max-time", "5", "-D", "-", *options, url],
                              capture_output=True, text=True)
        return done.returncode, done.stdout

    for credentials in ([], ["-u", f"{USER}:wrong"], ["-u", f"nobody:{PASSWORD}"]):
        code, answer = curl("--cacert", cert, *credentials)
        if code != 0 or not answer.startswith("HTTP/1.1 401") or \
                'www-authenticate: basic realm="calvora-ctl"' not in answer.lower():
            fail(f"curl {credentials} got {code}: {answer[:300]!r}")
    # The air reads NaN until serve has asked the utility, within a second of joining.
    deadline = time.monotonic() + 5
    while True:
        code, answer = curl("--cacert", cert, "-u", f"{USER}:{PASSWORD}")
        if code == 0 and answer.startswith("HTTP/1.1 200") and \
                'calvora_silence{station="studio-b"} 0' in answer:
            break
        if time.monotonic() > deadline:
            fail(f"curl with the password got {code}: {answer[:300]!r}")
        time.sleep(0.2)
    plain = subprocess.run([CURL, "-sS", "--max-time", "5", "-u", f"{USER}:{PASSWORD}",
                            f"http://127.0.0.1:{port}/metrics"], capture_output=True, text=True)
    if "calvora_silence" in plain.stdout:
        fail(f"plain HTTP to the TLS port got the metrics: {plain.stdout[:200]!r}")
    print("ok: over https curl gets 401 without the password or with a wrong one, 200 with it; "
          "plain HTTP gets nothing")


def start_monitoring(work, stations, receiver_port, fail):
    """Alertmanager routing to the receiver, Prometheus scraping the stations with the rules."""
    am_port, prom_port = free_port(), free_port()
    with open(os.path.join(work, "alertmanager.yml"), "w") as f:
        f.write(f"""route:
  receiver: webhook
  group_by: [alertname, station]
  group_wait: 0s
  group_interval: 1s
  repeat_interval: 1h
receivers:
  - name: webhook
    webhook_configs:
      - url: http://127.0.0.1:{receiver_port}/
        send_resolved: true
""")
    # No station labels on the targets: the names the alerts carry are calvora-ctl's own. The
    # https station has a job of its own (scheme, certificate and user are a job's), whose
    # targets carry the job the rules read.
    plain, secure, *others = stations
    plain_targets = ", ".join(f"'127.0.0.1:{station.port}'" for station in [plain, *others])
    with open(os.path.join(work, "password"), "w") as f:
        f.write(PASSWORD)
    with open(os.path.join(work, "prometheus.yml"), "w") as f:
        f.write(f"""global:
  scrape_interval: 1s
  scrape_timeout: 1s
  evaluation_interval: 1s
rule_files: ['{os.path.abspath(rules)}']
alerting:
  alertmanagers:
    - static_configs:
        - targets: ['127.0.0.1:{am_port}']
scrape_configs:
  - job_name: calvora
    honor_labels: true
    static_configs:
      - targets: [{plain_targets}]
  - job_name: calvora-tls
    honor_labels: true
    scheme: https
    tls_config:
      ca_file: {secure.web_folder}/studio-b.crt
    basic_auth:
      username: {USER}
      password_file: {work}/password
    static_configs:
      - targets: ['127.0.0.1:{secure.port}']
        labels: {{job: calvora}}
""")
    logs = open(os.path.join(work, "monitoring.log"), "w")
    alertmanager = subprocess.Popen(
        [ALERTMANAGER, f"--config.file={work}/alertmanager.yml",
         f"--storage.path={work}/alertmanager", f"--web.listen-address=127.0.0.1:{am_port}",
         "--cluster.listen-address="], stdout=logs, stderr=subprocess.STDOUT)
    prometheus = subprocess.Popen(
        [PROMETHEUS, f"--config.file={work}/prometheus.yml",
         f"--storage.tsdb.path={work}/prometheus", f"--web.listen-address=127.0.0.1:{prom_port}"],
        stdout=logs, stderr=subprocess.STDOUT)
    return [alertmanager, prometheus], prom_port


def restart_serve(station, prom_port, fail):
    """Ends the station's serve and starts it again on its port; waits until Prometheus reads
    it attached to the utility again with the air known."""
    station.server.send_signal(signal.SIGTERM)
    if station.server.wait(timeout=10) != 0:
        fail(f"serve ended with {station.server.returncode} on SIGTERM")
    started = time.monotonic()
    station.server = station.session.spawn(
        [ctl, "serve", "--listen", f"127.0.0.1:{station.port}", "--station", station.name,
         *station.serve_options], stderr=subprocess.PIPE, text=True)
    said = ""
    while "/metrics" not in said:
        line = station.server.stderr.readline()
        if not line:
            fail(f"serve did not start again: {said!r}")
        said += line
    threading.Thread(target=station.server.stderr.read, daemon=True).start()
    name = station.name
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if query(prom_port, f'calvora_utility_up{{station="{name}"}} == 1') and \
                query(prom_port, f'calvora_silence{{station="{name}"}} >= 0'):
            return time.monotonic() - started
        time.sleep(0.2)
    fail(f"Prometheus does not read {name}'s serve attached with the air known after a restart")


def query(prom_port, promql):
    url = f"http://127.0.0.1:{prom_port}/api/v1/query?" + urllib.parse.urlencode({"query": promql})
    try:
        return json.load(urllib.request.urlopen(url, timeout=2))["data"]["result"]
    except OSError:
        return None


def main():
    a = Station("studio-a")
    work = a.session.work
    web_folder = os.path.join(work, "web")
    b = Station("studio-b", ["--web-config", make_web_config(web_folder)])
    b.web_folder = web_folder
    stations = [a, b]
    if windows:
        stations.append(Station("windows-1", windows=windows))
    monitors = []

    def fail(text):
        try:
            with open(os.path.join(work, "monitoring.log"), errors="replace") as log:
                sys.stderr.write(log.read()[-3000:])
        except OSError:
            pass
        b.session.fail(text)

    try:
        check_unusable_web_config(web_folder, fail)
        for station in stations:
            station.start()
        check_https(b.port, os.path.join(web_folder, "studio-b.crt"), fail)
        receiver = Receiver()
        monitors, prom_port = start_monitoring(work, stations, receiver.server_address[1], fail)

        # Every station scraped, each sample under its own station's name.
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            up = query(prom_port, 'up{job="calvora"} == 1') or []
            silence = query(prom_port, "calvora_silence == 0") or []
            if len(up) == len(stations) and len(silence) == len(stations):
                break
            time.sleep(0.2)
        else:
            fail(f"Prometheus does not scrape every station: up {up}, silence {silence}")
        names = sorted(s["metric"].get("station") for s in silence)
        if names != sorted(station.name for station in stations) or \
                any("exported_station" in s["metric"] for s in silence):
            fail(f"the stations' samples are labelled {[s['metric'] for s in silence]}")
        print(f"ok: Prometheus scrapes {names} every second, studio-b over https with a password")
        if windows:
            # The -20 dBFS tone, once serve has heard the 3 s the short-term loudness reads.
            deadline = time.monotonic() + 15
            while time.monotonic() < deadline:
                loudness = query(prom_port, 'calvora_loudness_short_term_lufs{station="windows-1"}'
                                 " > -21 < -19") or []
                if loudness:
                    break
                time.sleep(0.5)
            else:
                fail("the Windows station's short-term loudness in Prometheus is not about -20: "
                     f"{query(prom_port, 'calvora_loudness_short_term_lufs')}")
            print("ok: Prometheus scrapes the Windows station under Wine too: short-term "
                  f"{float(loudness[0]['value'][1]):.1f} LUFS")

        # Studio-b falls silent: a firing dead-air alert naming studio-b.
        start = time.monotonic()
        b.session.card("programme", "silence")
        verdict = b.watch.wait_for(start, "NTF_SILENCE", 0, timeout=10)[0]["at"]
        fired = receiver.wait_for(
            lambda x: x["status"] == "firing" and x["labels"]["alertname"] == "CalvoraDeadAir",
            "firing dead-air alert", 40, fail)
        if fired["labels"].get("station") != "studio-b" or \
                fired["annotations"].get("summary") != "Dead air at studio-b" or \
                fired["labels"].get("severity") != "critical":
            fail(f"the dead-air alert is {fired}")
        for_seconds = rule_for_seconds("CalvoraDeadAir")
        to_webhook = fired["arrived"] - verdict
        if to_webhook < for_seconds:
            fail(f"the alert came {to_webhook:.1f} s after the verdict, before its for: "
                 f"of {for_seconds} s")
        print(f"ok: studio-b's verdict to the firing webhook: {to_webhook:.1f} s, of which "
              f"{for_seconds} s the rule's for: and {to_webhook - for_seconds:.1f} s the scrape, "
              "the evaluation and the sending")

        # studio-b's serve restarts in the dead air (on the same port): it knows the silence
        # again within a second of joining, and the alert neither resolves nor fires anew.
        restart_serve(b, prom_port, fail)
        time.sleep(4)  # more than Alertmanager's group_interval and a few evaluations
        with receiver.lock:
            told = [x for x in receiver.alerts if x["labels"].get("station") == "studio-b"]
        if [x["status"] for x in told] != ["firing"]:
            fail(f"a restart of serve in the dead air changed the alert: {told}")
        print("ok: serve restarted in studio-b's dead air; the alert stayed firing")

        # Sound back: the resolved alert.
        start = time.monotonic()
        b.session.card(*TONE)
        sound = b.watch.wait_for(start, "NTF_SOUND", 0, timeout=10)[0]["at"]
        resolved = receiver.wait_for(
            lambda x: x["status"] == "resolved" and x["labels"]["alertname"] == "CalvoraDeadAir"
            and x["labels"].get("station") == "studio-b", "resolved dead-air alert", 20, fail)
        print(f"ok: studio-b's sound back to the resolved webhook: "
              f"{resolved['arrived'] - sound:.1f} s")

        # Nothing else was sent: nothing for studio-a, and no other alert for studio-b.
        time.sleep(2)
        with receiver.lock:
            others = [x for x in receiver.alerts
                      if x["labels"].get("station") != "studio-b"
                      or x["labels"]["alertname"] != "CalvoraDeadAir"]
        if others:
            fail(f"the webhook got other alerts: {others}")
        if a.watch.since(0, "NTF_SILENCE"):
            fail("studio-a reported a silence")
        print("ok: nothing for studio-a")
        receiver.shutdown()
    finally:
        for process in monitors:
            process.terminate()
        for process in monitors:
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
        for station in stations:
            station.session.end()


main()
