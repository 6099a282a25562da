#include "CtlHelp.h"

#include <string>

#include "CtlHelpSections.h"

namespace calvora::ctl {

// On Linux: commands over the session bus, the checks of the received audio and the metrics.
const char* UsageText() {
  static const std::string text =
      R"(Usage: calvora-ctl [--handle H | --pid P] COMMAND [OPTIONS]

Controls a running Calvora Audio Mixer over the session bus, as a controlling
program does. The utility obeys commands only while its interactive mode
("Interactive mode. Program ID") is on; otherwise it answers everything with 0.

Commands:
  list               List the running utilities: window handle and program ID
                     (0 when interactive mode is off), one per line.
  identify           Print the utility's program ID.
  run [--restore]    Start the work; with --restore also restore the mixer
                     lines (code 0, argument 2).
  stop [--mute]      Stop the work; with --mute also mute the mixer lines
                     (code 1, argument 3).
  mute               Mute the mixer lines with the configured fade-out (code 3).
  unmute             Restore the mixer lines with the configured fade-in (code 2).
  watch              Announce this program to the utility, then print one line
                     per notification (time, code name, argument) and per audio
                     block (time, rate, channels, bits, left and right level in
                     dB, byte count of the samples). Ends on Ctrl+C, SIGTERM,
                     after --duration, or when the utility says goodbye.
  auto               What a simple controlling program does: announce itself,
                     ask for the verdict, start the work with restore (or,
                     joining a silence, mute), answer every silence
                     notification with mute and every sound-back notification
                     with restore, printing each step as watch does.
  serve              A quiet watch that serves metrics (--listen, by default
                     127.0.0.1:9794); takes the station options below too.
                     It outlives the utility: without one it serves on, says
                     so, and attaches again when one comes (looking every
                     second). Ends only on a signal or its own error.
  bye                Send a goodbye from this program's window.
  help               Show this text.

Choosing the utility (default: the only one running):
  --handle H         The utility whose window handle is H (see list).
  --pid P            The utility that answers the program ID P.

Options:
  --json             One JSON object per line (list, identify, watch, auto), and
                     JSON lines in the event log.
  --levels-every N   watch/auto: print only every Nth audio block (default 1).
  --duration S       watch/auto/serve: end after S seconds.
  -h, --help         Show this text.

Station options (watch, auto, serve). An event is a notification that changes
what is known: the air falls silent or sound comes back, the sound card or
the mixer goes offline or comes online. Repeats (a device's offline notice on
every check while it stays offline) are no new events.
  --on-silence CMD   Run CMD when the air falls silent.
  --on-sound CMD     Run CMD when sound comes back.
  --on-offline CMD   Run CMD when the sound card or the mixer goes offline.
  --on-online CMD    Run CMD when the sound card or the mixer comes online.
  --on-channel-lost CMD, --on-channel-back CMD, --on-phase-reversed CMD,
  --on-phase-normal CMD, --on-clipping CMD, --on-clipping-end CMD,
  --on-loudness-off CMD, --on-loudness-ok CMD
                     Run CMD on an event of the checks below.
                     CMD is split into words as a shell splits them ('...'
                     and "..." quote, \ escapes) and started without a shell;
                     nothing in it is expanded. Its environment adds
                     CALVORA_EVENT (silence, sound, offline, online, or a
                     check's event),
                     CALVORA_DEVICE (card, mixer), CALVORA_TIME (ISO 8601 with
                     the zone), CALVORA_LEFT_DB and CALVORA_RIGHT_DB (the last
                     block's levels; empty before the first) and CALVORA_HANDLE;
                     for a check's event also CALVORA_CHANNEL (left, right or
                     empty) and CALVORA_VALUE (the reading that decided it).
                     Its output and exit status go to stderr, one line each.
                     One instance of each command runs at a time: an event
                     that comes meanwhile runs it again once it has ended, and
                     a later one replaces it (the last state wins).
  --shell            Run each CMD with sh -c instead ($VARIABLES, pipes, ...).
  --log DIR          Append one line per event to DIR/YYYY-MM-DD.log (local
                     date): time with the zone, event, device, levels. The
                     folder is made (again) when missing; a line that cannot
                     be written is told on stderr.
  --listen HOST:PORT Serve http://HOST:PORT/metrics (Prometheus text format),
                     /status (JSON) and the live page at /. Give 127.0.0.1 or
                     [::1] to serve this machine only (serve's default is
                     127.0.0.1:9794), 0.0.0.0 to serve the network (with
                     --web-config for TLS and passwords); port 0 takes a free
                     port, told on stderr.
  --station NAME     The station's name: every metric carries station="NAME"
                     (default: this machine's host name), so that one
                     Prometheus tells the stations of a group apart.
  --web-config FILE  Serve over TLS and ask for a password, as FILE says in
                     the web configuration format of Prometheus's exporters:
                       tls_server_config:
                         cert_file: studio-a.crt  # beside FILE unless absolute
                         key_file: studio-a.key
                         client_auth_type: RequireAndVerifyClientCert
                         client_ca_file: monitoring-ca.crt
                       basic_auth_users:   # bcrypt: htpasswd -nbBC 10 USER PW
                         prometheus: $2y$10$...
                     client_auth_type: NoClientCert (the default),
                     RequestClientCert, RequireAnyClientCert,
                     VerifyClientCertIfGiven or RequireAndVerifyClientCert
                     (the last two verify against client_ca_file). Without
                     tls_server_config the server speaks plain HTTP; without
                     basic_auth_users it asks for no password (a wrong or
                     missing one gets 401, and an address with 5 wrong ones
                     in a minute 429; a bcrypt cost above 12 is refused). A
                     file that cannot be read or used ends calvora-ctl at
                     once, naming the file and the line.
)" + std::string(kListeningAndClipsHelp) +
      kChecksAndLinesHelp +
      R"(Protocol: each window owns the bus name org.calvora.Window.<Class>.H<handle>
and serves /org/calvora/Window, interface org.calvora.Window, with
SendMessage(uuu message, wparam, lparam) -> i and CopyData(uuay) -> i. A
command is message 2102 with lparam = code * 65536 + argument.

)" + kMetricsHelp +
      R"(Exit status: 0 done (serve: ended by a signal or --duration); 1 bad command
line, or a --web-config file that cannot be used; 2 no session bus, or no
utility or more than one to choose from; 3 the utility did not answer (gone or
timed out); 4 cannot listen on the --listen address; 5 serve lost the session
bus.
)";
  return text.c_str();
}

}  // namespace calvora::ctl
