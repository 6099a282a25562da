#!/usr/bin/env python3
"""The live page of calvora-ctl serve in a real browser: the utility on the virtual card,
calvora-ctl serve, and headless Chromium at a phone's width, driven over its DevTools pipe.
The page must show the sound card "Online" and the air "Sound" at once, from the state it
carries, even while its event stream cannot connect; when the programme falls silent,
"Silence" within one second of the utility's verdict (as a watch peer receives it), and the
correlation's marker goes while the correlation is unknown. The page's play button plays
/listen (the audio element's time advances, and a Web Audio analyser reads the tone's level),
as ffmpeg reads it too; after the verdict the clip of the silence appears under --clips, its
first half the programme and its second half silence, and the page's event list plays it.
All of it under the page's Content-Security-Policy, which blocks nothing the page uses. A
screenshot of the page in silence is saved for the README.

Usage: ctl_page_browser.py PROGRAM CALVORA_CTL VIRTUAL_CAPTURE_CTL VIRTUAL_CARD_CONF SCREENSHOT
"""
import base64
import glob
import json
import os
import shutil
import subprocess
import sys
import threading
import time

from harness import Binaries, Session, decode_ogg, interactive_settings, rms_db

CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--hide-scrollbars",
                  "--remote-debugging-pipe", "--autoplay-policy=no-user-gesture-required"]
TONE_RMS_DB = -20 - 3.01  # the card's tone: 1 kHz at -20 dBFS peak
# The page's listening player through a Web Audio analyser: its peak level in dBFS over 100 ms.
ANALYSE = """new Promise(function (done) {
  var player = document.getElementById('programme');
  var context = window.listenContext || (window.listenContext = new AudioContext());
  if (!window.listenAnalyser) {
    window.listenAnalyser = context.createAnalyser();
    context.createMediaElementSource(player).connect(window.listenAnalyser);
    window.listenAnalyser.connect(context.destination);
  }
  context.resume().then(function () {
    setTimeout(function () {
      var data = new Float32Array(window.listenAnalyser.fftSize), power = 0;
      window.listenAnalyser.getFloatTimeDomainData(data);
      data.forEach(function (x) { power += x * x; });
      done(10 * Math.log10(power / data.length + 1e-20));
    }, 300);
  });
})"""
CSP_WATCH = """window.policyViolations = [];
document.addEventListener('securitypolicyviolation', function (e) {
  window.policyViolations.push(e.effectiveDirective + ' ' + e.blockedURI);
});"""
PHONE = {"width": 390, "height": 844, "deviceScaleFactor": 2, "mobile": True}


class Browser:
    """Headless Chromium with the DevTools protocol on the pipe of descriptors 3 and 4:
    JSON messages, each ended by a NUL byte."""

    def __init__(self, session):
        self.session = session
        self.profile = os.path.join(session.work, "chromium-profile")
        os.makedirs(self.profile)
        to_browser, self.commands = os.pipe()
        self.answers, from_browser = os.pipe()

        def descriptors():  # the browser reads fd 3 and writes fd 4
            os.dup2(to_browser, 100)
            os.dup2(from_browser, 101)
            os.dup2(100, 3)
            os.dup2(101, 4)

        executable = shutil.which("chromium")
        if not executable:
            session.fail("chromium is not installed (scripts/install-deps.sh installs it)")
        self.proc = subprocess.Popen(
            [executable, *CHROMIUM_FLAGS, f"--user-data-dir={self.profile}", "about:blank"],
            env=dict(session.env, HOME=session.work), preexec_fn=descriptors, close_fds=False,
            stdout=subprocess.DEVNULL, stderr=open(os.path.join(session.work, "chromium.log"), "w"))
        session.children.append(self.proc)
        os.close(to_browser)
        os.close(from_browser)
        self.next_id = 0
        self.replies = {}
        self.cond = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()
        self.session_id = None

    def _read(self):
        buffer = b""
        while True:
            chunk = os.read(self.answers, 65536)
            if not chunk:
                return
            buffer += chunk
            while b"\0" in buffer:
                message, buffer = buffer.split(b"\0", 1)
                reply = json.loads(message)
                if "id" in reply:
                    with self.cond:
                        self.replies[reply["id"]] = reply
                        self.cond.notify_all()

    def call(self, method, timeout=15, **params):
        self.next_id += 1
        request = {"id": self.next_id, "method": method, "params": params}
        if self.session_id:
            request["sessionId"] = self.session_id
        os.write(self.commands, json.dumps(request).encode() + b"\0")
        with self.cond:
            if not self.cond.wait_for(lambda: self.next_id in self.replies, timeout):
                self.session.fail(f"Chromium did not answer {method}")
            reply = self.replies.pop(self.next_id)
        if "error" in reply:
            self.session.fail(f"Chromium: {method}: {reply['error']}")
        return reply["result"]

    def open(self, url, blocked=()):
        """Loads the page in a new tab; requests for the `blocked` patterns fail."""
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session_id = self.call("Target.attachToTarget", targetId=target,
                                    flatten=True)["sessionId"]
        self.call("Emulation.setDeviceMetricsOverride", **PHONE)
        self.call("Network.enable")
        self.call("Network.setBlockedURLs", urls=list(blocked))
        # What the page's Content-Security-Policy blocks, kept for the test to read.
        self.call("Page.enable")
        self.call("Page.addScriptToEvaluateOnNewDocument", source=CSP_WATCH)
        self.call("Page.navigate", url=url)

    def evaluate(self, expression):
        return self.call("Runtime.evaluate", expression=expression,
                         returnByValue=True, awaitPromise=True)["result"].get("value")

    def wait_for(self, expression, expected, timeout):
        deadline = time.monotonic() + timeout
        value = None
        while time.monotonic() < deadline:
            value = self.evaluate(expression)
            if value == expected:
                return time.monotonic()
            time.sleep(0.02)
        self.session.fail(f"{expression} read {value!r}, not {expected!r}, for {timeout} s")

    def close(self):
        try:
            self.session_id = None
            self.call("Browser.close", timeout=5)
        except SystemExit:
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        os.close(self.commands)


def main(program, ctl, card_ctl, card_conf, screenshot):
    with Session(Binaries(program, ctl, card_ctl, card_conf), prefix="calvora-e2e-page-") as s:
        s.card("programme", "tone", "-20")
        app = s.start(interactive_settings(7, silence_time=1, restore_time=0.5, wait=3))
        clips = os.path.join(s.work, "clips")
        serve, port = s.serve("--clips", clips)
        watch = s.watch()
        s.command("run")
        watch.wait_for(time.monotonic() - 5, "AUDIO")

        browser = Browser(s)
        try:
            card_word = "document.getElementById('card').textContent"
            air_word = "document.getElementById('air').textContent"
            link_word = "document.getElementById('link').textContent"
            mark = "getComputedStyle(document.getElementById('corrMark')).visibility"
            # Without its stream the page shows the state it was served with.
            browser.open(f"http://127.0.0.1:{port}/", blocked=["*/events"])
            browser.wait_for("document.readyState", "complete", 15)
            shown = [browser.evaluate(w) for w in (card_word, air_word, link_word, mark)]
            if shown[:2] != ["Online", "Sound"] or shown[2] == "Live" or shown[3] != "visible":
                s.fail(f"the page without its stream shows {shown}")
            print("ok: the page shows Online and Sound before its stream connects")

            browser.open(f"http://127.0.0.1:{port}/")
            browser.wait_for(link_word, "Live", 15)
            browser.wait_for(card_word, "Online", 15)
            browser.wait_for(air_word, "Sound", 10)
            width = browser.evaluate("document.documentElement.scrollWidth")
            if width > PHONE["width"]:
                s.fail(f"the page is {width} px wide on a {PHONE['width']} px phone")
            print("ok: the page shows Online and Sound")

            # Listening in: ffmpeg, and the page's own player.
            heard = decode_ogg(f"http://127.0.0.1:{port}/listen", seconds=2)
            level = rms_db(heard, 0, 1.0, 2.0)
            print(f"ok: ffmpeg reads /listen at {level:.2f} dBFS RMS (the tone {TONE_RMS_DB:.2f})")
            if abs(level - TONE_RMS_DB) > 1:
                s.fail(f"/listen reads {level:.2f} dBFS, the programme {TONE_RMS_DB:.2f}")
            browser.evaluate("document.getElementById('listen').click()")
            browser.wait_for("document.getElementById('programme').currentTime > 1.5", True, 15)
            level = browser.evaluate(ANALYSE)
            print(f"ok: the page plays /listen; its analyser reads {level:.2f} dBFS RMS")
            if abs(level - TONE_RMS_DB) > 1:
                s.fail(f"the page's analyser reads {level:.2f} dBFS")
            browser.evaluate("document.getElementById('listen').click()")  # stops

            start = time.monotonic()
            s.card("programme", "silence")
            verdict = watch.wait_for(start, "NTF_SILENCE", timeout=10)[0]["at"]
            shown = browser.wait_for(air_word, "Silence", 5)
            delay = shown - verdict
            print(f"ok: Silence shown {delay * 1000:.0f} ms after the utility's verdict")
            if delay > 1.0:
                s.fail(f"Silence shown {delay:.2f} s after the verdict")
            events = browser.evaluate("document.getElementById('events').textContent")
            if "silence" not in events:
                s.fail(f"the last events do not show the silence: {events!r}")
            browser.wait_for(mark, "hidden", 2)

            # The clip of the silence: written 10 s after the verdict, reaching back 40 s before
            # it (the utility's longest silence time and 10 s) but only over the audio serve
            # received: the programme, then the second of silence the verdict took and the 10 s
            # after it; linked from the event and played by the page.
            found = []
            s_wait = time.monotonic() + 20
            while not found and time.monotonic() < s_wait:
                found = glob.glob(os.path.join(clips, "*", "*-silence.opus"))
                time.sleep(0.2)
            if not found:
                s.fail(f"no clip of the silence under {clips}: {os.listdir(clips)}")
            clip = decode_ogg(found[0])
            length = len(clip) / 2 / 48000
            before = rms_db(clip, 0, length - 15, length - 12)
            after = rms_db(clip, 0, length - 10, length - 0.5)
            print(f"ok: {os.path.relpath(found[0], clips)}: {length:.2f} s, the programme before "
                  f"the silence at {before:.2f} dBFS, the 10 s after the verdict at {after:.1f}")
            if not 20 <= length <= 50.1 or abs(before - TONE_RMS_DB) > 1 or after > -60:
                s.fail(f"the clip: {length:.2f} s, {before:.2f} then {after:.2f} dBFS")
            browser.wait_for("document.querySelector('#events a.clip') !== null", True, 5)
            browser.evaluate("document.querySelector('#events a.clip').click()")
            browser.wait_for("document.getElementById('clip').currentTime > 1", True, 15)
            print("ok: the page plays the clip from its event")

            # All of the above ran under the page's policy, which blocked nothing it uses.
            policy = browser.evaluate(
                "fetch('/').then(function (r) { return r.headers.get('content-security-policy'); })")
            if not policy or "default-src 'none'" not in policy:
                s.fail(f"the page is served with the policy {policy!r}")
            blocked = browser.evaluate("window.policyViolations")
            if blocked != []:
                s.fail(f"the page's policy blocked {blocked}")
            print(f"ok: the page works under its policy: {policy}")

            time.sleep(0.5)  # the meters settle at the silence
            image = base64.b64decode(browser.call("Page.captureScreenshot", format="png",
                                                  captureBeyondViewport=False)["data"])
            if not image.startswith(b"\x89PNG"):
                s.fail("the screenshot is no PNG")
            os.makedirs(os.path.dirname(os.path.abspath(screenshot)), exist_ok=True)
            with open(screenshot, "wb") as out:
                out.write(image)
            print("ok: screenshot saved to", screenshot)

            # The utility closes: serve goes on, and its page says so at once.
            closed = time.monotonic()
            s.close(app)
            shown = browser.wait_for(air_word, "Utility not running", 5)
            if browser.evaluate(card_word) != "-" or serve.poll() is not None:
                s.fail("the page still shows the card, or serve ended with the utility")
            print(f"ok: 'Utility not running' shown {shown - closed:.2f} s after it closed")
        finally:
            browser.close()
        serve.terminate()
        if serve.wait(timeout=10) != 0:
            s.fail(f"calvora-ctl serve ended with {serve.returncode}")
        s.close(app)


if __name__ == "__main__":
    main(*sys.argv[1:6])
