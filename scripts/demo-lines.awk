# Makes the lines of the demo's programs readable; `who` says whose lines they are.
#   watch    (calvora-ctl watch): notifications and levels
#     14:03:07.250 NTF_SILENCE 0              ->  14:03:07.250 sound card   Silence ...
#     14:03:07.260 AUDIO ... left=.. right=.. ->  14:03:07.260 levels       L -12.3 dB ####  R ...
#   auto     (calvora-ctl auto): only the commands it sends
#     14:03:07.251 sent CMD_MUTE 0            ->  14:03:07.251 calvora-ctl  mute the line (fade out)
#   utility  (the program's own messages): JACK's client library's complaints that no JACK
#            server runs are dropped (ALSA's JACK plugin is tried while devices are listed)
# Other lines get the time and the name of the program in front.

function bar(db,    n, s) {
  # -60 dB .. 0 dB in 24 steps
  n = int((db + 60) / 2.5 + 0.5)
  if (n < 0) n = 0
  if (n > 24) n = 24
  s = ""
  while (length(s) < n) s = s "#"
  while (length(s) < 24) s = s "."
  return s
}

function say(time, source, what) {
  printf "%s %-12s %s\n", time, source, what
  fflush()
}

function now(    t) {
  "date +%H:%M:%S.%3N" | getline t
  close("date +%H:%M:%S.%3N")
  return t
}

who == "utility" && /^(Cannot connect to server|jack server is not running|JackShmReadWritePtr)/ { next }
who == "utility" { say(now(), "utility", $0); next }
who == "auto" && $2 != "sent" && $1 ~ /^[0-9][0-9]:[0-9][0-9]:/ { next }

$2 == "NTF_ONLINE" { say($1, $3 == 0 ? "sound card" : "mixer", $3 == 0 ? "Online" : "Online (lines opened)"); next }
$2 == "NTF_OFFLINE" { say($1, $3 == 0 ? "sound card" : "mixer", "OFFLINE"); next }
$2 == "NTF_SILENCE" { say($1, "sound card", "Silence  <- dead air found"); next }
$2 == "NTF_SOUND" { say($1, "sound card", "Online   <- sound is back"); next }
$2 == "WINMSG_CONTROL" && $3 != 0 && $3 != 32767 { say($1, "utility", "goodbye"); next }
$2 == "sent" && $3 == "CMD_VERDICT" { say($1, "calvora-ctl", "ask the verdict: " substr($0, index($0, "verdict=") + 8)); next }
$2 == "sent" && $3 == "CMD_RUN" { say($1, "calvora-ctl", "start the work" ($4 == 2 ? " and restore the lines" : "")); next }
$2 == "sent" && $3 == "CMD_MUTE" { say($1, "calvora-ctl", "mute the line (fade out)"); next }
$2 == "sent" && $3 == "CMD_UNMUTE" { say($1, "calvora-ctl", "restore the line (fade in)"); next }
$2 == "AUDIO" {
  left = ""; right = ""
  for (i = 3; i <= NF; i++) {
    if ($i ~ /^left=/) left = substr($i, 6) + 0
    if ($i ~ /^right=/) right = substr($i, 7) + 0
  }
  say($1, "levels", sprintf("L %6.1f dB %s  R %6.1f dB %s", left, bar(left), right, bar(right)))
  next
}
{ say(now(), who == "auto" ? "calvora-ctl" : who, $0) }
