#include "LivePage.h"

#include "LiveJson.h"

namespace calvora::ctl {

std::string LivePageState(const StationSnapshot& state) {
  return "{\"live\":" + LiveJson(state) + ",\"events\":" + RecentEventsJson(state) + "}";
}

const char* LivePagePolicy() {
  // The state in the page is a JSON data block, which runs as no script.
  return "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
         "media-src 'self'; img-src 'self'; base-uri 'none'; form-action 'none'; "
         "frame-ancestors 'none'";
}

std::string LivePageHtml(const std::string& state) {
  // Inside the script element the JSON may hold no "</script>": every "<" is written as the
  // escape JSON has for it (JSON has "<" nowhere but in strings).
  std::string escaped;
  for (const char c : state)
    escaped += c == '<' ? std::string("\\u003c") : std::string(1, c);
  return R"page(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Calvora station</title>
<link rel="stylesheet" href="/live.css">
</head>
<body>
<header>
  <h1>Calvora station</h1>
  <span id="link" class="word off">Connecting</span>
</header>
<section class="words">
  <div class="cell"><div class="label">Sound card</div><div id="card" class="word unknown">-</div></div>
  <div class="cell"><div class="label">Air</div><div id="air" class="word unknown">-</div></div>
</section>
<section class="meters" aria-label="Levels">
  <div class="meter"><span class="ch">L</span><div class="bar"><div id="barL" class="fill"></div></div><span id="dbL" class="db">-</span></div>
  <div class="meter"><span class="ch">R</span><div class="bar"><div id="barR" class="fill"></div></div><span id="dbR" class="db">-</span></div>
  <div class="scale"><span>-60</span><span>-40</span><span>-20</span><span>0 dB</span></div>
</section>
<section class="readings">
  <div class="cell"><div class="label">Correlation</div><div id="corr" class="value">-</div>
    <div class="bar corr"><div id="corrMark" class="mark"></div></div></div>
  <div class="cell"><div class="label">Short-term</div><div id="st" class="value">-</div><div class="unit">LUFS</div></div>
  <div class="cell"><div class="label">True peak</div><div id="tp" class="value">-</div><div class="unit">dBTP L / R</div></div>
</section>
<section id="faults" class="faults"></section>
<section class="listen">
  <button id="listen" type="button" aria-pressed="false">&#9654; Listen</button>
  <span id="listenState" class="label"></span>
  <audio id="programme" preload="none"></audio>
  <audio id="clip" preload="none"></audio>
</section>
<section>
  <h2>Last events</h2>
  <ol id="events" class="events"></ol>
</section>
<script id="state" type="application/json">)page" +
         escaped + R"page(</script>
<script src="/live.js"></script>
</body>
</html>
)page";
}

const char* LivePageStyle() {
  return R"page(* { box-sizing: border-box; }
body { margin: 0; padding: 12px; font: 16px/1.4 system-ui, sans-serif; background: #111; color: #eee; max-width: 720px; }
header { display: flex; align-items: center; justify-content: space-between; gap: 8px; }
h1 { font-size: 1.2em; margin: 0; }
h2 { font-size: 1em; margin: 16px 0 6px; color: #aaa; }
.words, .readings { display: grid; grid-template-columns: repeat(auto-fit, minmax(140px, 1fr)); gap: 8px; margin-top: 12px; }
.cell { background: #1d1d1d; border-radius: 6px; padding: 8px; }
.label { font-size: .8em; color: #aaa; text-transform: uppercase; letter-spacing: .05em; }
.word { display: inline-block; font-weight: bold; font-size: 1.4em; padding: 2px 10px; border-radius: 4px; }
#link.word { font-size: .9em; }
.ok { background: #1e7d32; color: #fff; }
.bad { background: #c62828; color: #fff; }
.warn { background: #f9a825; color: #000; }
.off, .unknown { background: #555; color: #ddd; }
.meters { margin-top: 12px; background: #1d1d1d; border-radius: 6px; padding: 8px; }
.meter { display: flex; align-items: center; gap: 8px; margin: 4px 0; }
.ch { width: 1em; font-weight: bold; }
.bar { flex: 1; height: 14px; background: #333; border-radius: 3px; overflow: hidden; position: relative; }
.fill { height: 100%; width: 0; background: linear-gradient(90deg, #2e7d32 0%, #2e7d32 66%, #f9a825 83%, #c62828 100%); background-size: 100vw 100%; transition: width .15s; }
.db { width: 4.5em; text-align: right; font-variant-numeric: tabular-nums; }
.scale { display: flex; justify-content: space-between; font-size: .7em; color: #888; margin: 0 5em 0 1.5em; }
.value { font-size: 1.6em; font-variant-numeric: tabular-nums; }
.unit { font-size: .8em; color: #aaa; }
.corr { margin-top: 4px; background: linear-gradient(90deg, #c62828 0%, #555 50%, #2e7d32 100%); }
.mark { position: absolute; top: 0; width: 4px; height: 100%; background: #fff; left: 50%; visibility: hidden; }
.faults { display: flex; flex-wrap: wrap; gap: 6px; margin-top: 12px; }
.faults .word { font-size: 1em; }
.events { list-style: none; padding: 0; margin: 0; }
.events li { padding: 4px 0; border-bottom: 1px solid #2a2a2a; display: flex; gap: 10px; flex-wrap: wrap; }
.events time { color: #aaa; font-variant-numeric: tabular-nums; }
.events a.clip { color: #8cf; margin-left: auto; white-space: nowrap; }
.listen { display: flex; align-items: center; gap: 10px; margin: 12px 0; }
.listen button { font: inherit; padding: 6px 14px; border-radius: 6px; border: 1px solid #555; background: #222; color: #eee; }
.listen button[aria-pressed="true"] { background: #063; border-color: #0a5; }
)page";
}

const char* LivePageScript() {
  return R"page((function () {
  "use strict";
  var $ = function (id) { return document.getElementById(id); };
  function word(el, text, cls) { el.textContent = text; el.className = "word " + cls; }
  function num(v, digits) { return v === null || v === undefined ? "-" : v.toFixed(digits); }
  function bar(el, db) {
    var pct = db === null ? 0 : Math.max(0, Math.min(100, (db + 60) / 60 * 100));
    el.style.width = pct + "%";
  }
  var faultNames = { channelLost: "Channel lost", phaseReversed: "Phase reversed",
                     clipping: "Clipping", loudnessOff: "Loudness off target" };
  function live(s) {
    var card = s.online.card;
    if (card === null) word($("card"), "-", "unknown");
    else word($("card"), card ? "Online" : "Offline", card ? "ok" : "bad");
    // Green only for sound the utility reports while its audio arrives; a silence it
    // reports shows whatever else is missing.
    if (!s.utility) word($("air"), "Utility not running", "bad");
    else if (s.silence === true) word($("air"), "Silence", "bad");
    else if (s.silence === false && s.audio && card !== false) word($("air"), "Sound", "ok");
    else word($("air"), "Unknown", "unknown");
    var l = s.levels ? s.levels[0] : null, r = s.levels ? s.levels[1] : null;
    bar($("barL"), l); bar($("barR"), r);
    $("dbL").textContent = num(l, 1); $("dbR").textContent = num(r, 1);
    $("corr").textContent = num(s.correlation, 2);
    // No marker while the correlation is unknown: one at 0 would read as wide stereo.
    var mark = $("corrMark");
    mark.style.visibility = s.correlation === null ? "hidden" : "visible";
    if (s.correlation !== null) mark.style.left = ((s.correlation + 1) * 50) + "%";
    $("st").textContent = num(s.shortTerm, 1);
    $("tp").textContent = num(s.truePeak[0], 1) + " / " + num(s.truePeak[1], 1);
    var faults = $("faults");
    faults.textContent = "";
    var f = s.faults;
    var lost = [f.channelLost[0] ? "left" : null, f.channelLost[1] ? "right" : null].filter(Boolean);
    if (lost.length) add(faults, faultNames.channelLost + " (" + lost.join(", ") + ")");
    ["phaseReversed", "clipping", "loudnessOff"].forEach(function (k) {
      if (f[k]) add(faults, faultNames[k]);
    });
  }
  function add(parent, text) {
    var el = document.createElement("span");
    word(el, text, "warn");
    parent.appendChild(el);
  }
  function eventItem(e) {
    var li = document.createElement("li");
    var t = document.createElement("time");
    t.textContent = e.time.replace("T", " ").slice(0, 23);
    var what = document.createElement("span");
    what.textContent = e.event + (e.device ? " " + e.device : "") +
      (e.channel ? " " + e.channel : "") +
      (e.value !== undefined && e.value !== null ? " (" + e.value.toFixed(2) + ")" : "");
    li.appendChild(t); li.appendChild(what);
    if (e.clip) {
      // The sound around the event, once its time after has passed; played here.
      var a = document.createElement("a");
      a.className = "clip";
      a.href = "/clips/" + e.clip;
      a.textContent = "\u25B6";
      a.title = "The sound from 10 s before to 10 s after";
      a.setAttribute("aria-label", "Play the sound of this event");
      a.addEventListener("click", function (ev) {
        ev.preventDefault();
        var clip = $("clip");
        clip.src = a.href;
        clip.play();
      });
      li.appendChild(a);
    }
    return li;
  }
  function addEvent(e) {
    var list = $("events");
    list.insertBefore(eventItem(e), list.firstChild);
    while (list.children.length > 20) list.removeChild(list.lastChild);
  }
  function hello(d) {
    $("events").textContent = "";
    d.events.slice().reverse().forEach(addEvent);
    live(d.live);
  }
  // Listening in: the stream is asked for only while playing, so nothing is encoded for a
  // page that is merely open; a stream that ends (the utility's rate changed, the server
  // restarted) is asked for again.
  var listening = false;
  function listen(on) {
    var player = $("programme"), button = $("listen");
    listening = on;
    button.setAttribute("aria-pressed", on ? "true" : "false");
    button.innerHTML = on ? "&#9632; Stop" : "&#9654; Listen";
    $("listenState").textContent = on ? "connecting" : "";
    if (on) {
      player.src = "/listen?" + Date.now();
      player.play().catch(function () {});
    } else {
      player.pause();
      player.removeAttribute("src");
      player.load();  // closes the stream
    }
  }
  $("listen").addEventListener("click", function () { listen(!listening); });
  $("programme").addEventListener("playing", function () { $("listenState").textContent = "on air"; });
  ["ended", "error"].forEach(function (name) {
    $("programme").addEventListener(name, function () {
      if (!listening) return;
      $("listenState").textContent = "reconnecting";
      setTimeout(function () { if (listening) listen(true); }, 1000);
    });
  });
  hello(JSON.parse($("state").textContent));  // as the page was served
  var source = new EventSource("/events");
  source.onopen = function () { word($("link"), "Live", "ok"); };
  source.onerror = function () { word($("link"), "Reconnecting", "off"); };
  source.addEventListener("hello", function (m) { hello(JSON.parse(m.data)); });
  source.addEventListener("live", function (m) { live(JSON.parse(m.data)); });
  source.addEventListener("station", function (m) { addEvent(JSON.parse(m.data)); });
})();
)page";
}

}  // namespace calvora::ctl
