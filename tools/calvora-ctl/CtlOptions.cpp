#include "CtlOptions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>

#include <CLI/CLI.hpp>

#include "CommandWords.h"
#include "ExpositionLabels.h"
#ifdef _WIN32
#include "WindowsCommandWords.h"
#endif

namespace calvora::ctl {

namespace {

constexpr std::array<EventKind, 4> kEventKinds{EventKind::kSilence, EventKind::kSound,
                                               EventKind::kOffline, EventKind::kOnline};

template <typename T>
bool ParseNumber(const std::string& text, T& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && !text.empty();
}

const std::map<std::string, Command>& Commands() {
  static const std::map<std::string, Command> commands{
      {"list", Command::kList},   {"identify", Command::kIdentify}, {"run", Command::kRun},
      {"stop", Command::kStop},   {"mute", Command::kMute},         {"unmute", Command::kUnmute},
      {"watch", Command::kWatch}, {"bye", Command::kBye},           {"auto", Command::kAuto},
      {"serve", Command::kServe}, {"help", Command::kHelp}};
  return commands;
}

}  // namespace

std::optional<CtlOptions> ParseCommandLine(const std::vector<std::string>& args,
                                           std::string& error) {
  // CLI11 reads the words; the values are checked here, so that each mistake is told in
  // this program's own words.
  CLI::App app;
  app.set_help_flag();
  app.allow_extras();
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  CtlOptions options;
  bool help = false;
  bool shell = false;
  std::optional<std::string> handle, pid, levelsEvery, duration, logFolder, listen, station;
  std::array<std::optional<std::string>, 4> actionTexts;
  std::vector<std::string> words;
  auto valued = [&app](const char* name, std::optional<std::string>& into) {
    app.add_option_function<std::string>(name, [&into](const std::string& v) { into = v; });
  };
  app.add_flag("-h,--help", help);
  valued("--handle", handle);
  valued("--pid", pid);
  app.add_flag("--json", options.json);
  app.add_flag("--restore", options.restore);
  app.add_flag("--mute", options.mute);
  valued("--levels-every", levelsEvery);
  valued("--duration", duration);
  for (EventKind kind : kEventKinds)
    valued(ActionOption(kind).c_str(), actionTexts[static_cast<std::size_t>(kind)]);
  app.add_flag("--shell", shell);
  valued("--log", logFolder);
  valued("--listen", listen);
  valued("--station", station);
  app.add_option("command", words);

  std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them so
  try {
    app.parse(reversed);
  } catch (const CLI::ArgumentMismatch& mismatch) {
    const std::string what = mismatch.what();  // "--pid: 1 required TEXT missing"
    error = what.substr(0, what.find(':')) + " needs a value";
    return std::nullopt;
  } catch (const CLI::ParseError& mistake) {
    error = mistake.what();
    return std::nullopt;
  }
  if (help) {
    options.command = Command::kHelp;
    return options;
  }
  if (!app.remaining().empty()) {
    error = "unknown option " + app.remaining().front();
    return std::nullopt;
  }
  if (words.empty()) {
    error = "no command given";
    return std::nullopt;
  }
  const auto found = Commands().find(words.front());
  if (found == Commands().end()) {
    error = "unknown command \"" + words.front() + "\"";
    return std::nullopt;
  }
  options.command = found->second;
  if (words.size() > 1) {
    error = "unexpected argument \"" + words[1] + "\"";
    return std::nullopt;
  }

  if (handle) {
    uint32_t value = 0;
    if (!ParseNumber(*handle, value) || value == 0) {
      error = "--handle needs a window handle (a positive number), not \"" + *handle + "\"";
      return std::nullopt;
    }
    options.handle = value;
  }
  if (pid) {
    int32_t value = 0;
    if (!ParseNumber(*pid, value) || value == 0 || value < -32768 || value > 32767) {
      error = "--pid needs a program ID from -32768 to 32767 other than 0, not \"" + *pid + "\"";
      return std::nullopt;
    }
    options.pid = value;
  }
  if (levelsEvery &&
      (!ParseNumber(*levelsEvery, options.levelsEvery) || options.levelsEvery == 0)) {
    error = "--levels-every needs a count of 1 or more, not \"" + *levelsEvery + "\"";
    return std::nullopt;
  }
  if (duration && (!ParseNumber(*duration, options.durationSeconds) ||
                   !std::isfinite(options.durationSeconds) || options.durationSeconds <= 0)) {
    error = "--duration needs a number of seconds above 0, not \"" + *duration + "\"";
    return std::nullopt;
  }
  if (logFolder) {
    if (logFolder->empty()) {
      error = "--log needs a folder";
      return std::nullopt;
    }
    options.logFolder = *logFolder;
  }
  if (listen) {
    options.listen = ParseListenAddress(*listen, error);
    if (!options.listen)
      return std::nullopt;
  }
  if (station) {
    const std::string problem = StationNameProblem(*station);
    if (!problem.empty()) {
      error = "--station: " + problem;
      return std::nullopt;
    }
    options.station = *station;
  }
  if (options.handle && options.pid) {
    error = "give --handle or --pid, not both";
    return std::nullopt;
  }
#ifdef _WIN32
  // The Windows build has no metrics server, and no sh: a command that wants the shell of
  // Windows names it (cmd /c ...).
  if (options.command == Command::kServe || options.listen) {
    error = "serve and --listen are not available on Windows";
    return std::nullopt;
  }
  if (shell) {
    error = "--shell is not available on Windows; give the command as cmd /c ... instead";
    return std::nullopt;
  }
#endif
  if (options.restore && options.command != Command::kRun) {
    error = "--restore belongs to the command run";
    return std::nullopt;
  }
  if (options.mute && options.command != Command::kStop) {
    error = "--mute belongs to the command stop";
    return std::nullopt;
  }
  const bool peer = options.command == Command::kWatch || options.command == Command::kAuto ||
                    options.command == Command::kServe;
  const bool anyAction = std::any_of(actionTexts.begin(), actionTexts.end(),
                                     [](const auto& text) { return text.has_value(); });
  if (!peer && (anyAction || shell || options.logFolder || options.listen)) {
    error = "--on-..., --shell, --log and --listen belong to the commands watch, auto and serve";
    return std::nullopt;
  }
  if (options.station && !options.listen && options.command != Command::kServe) {
    error = "--station names the station in the metrics: it needs serve or --listen";
    return std::nullopt;
  }
  if (shell && !anyAction) {
    error = "--shell needs a command: --on-silence, --on-sound, --on-offline or --on-online";
    return std::nullopt;
  }
  for (EventKind kind : kEventKinds) {
    const auto& text = actionTexts[static_cast<std::size_t>(kind)];
    if (!text)
      continue;
    auto& argv = options.actions[static_cast<std::size_t>(kind)];
    if (shell) {
      argv = {"sh", "-c", *text, "calvora-ctl"};
      continue;
    }
    std::string why;
#ifdef _WIN32
    const auto split = SplitWindowsCommandWords(*text, why);
#else
    const auto split = SplitCommandWords(*text, why);
#endif
    if (!split) {
      error = ActionOption(kind) + ": " + why;
      return std::nullopt;
    }
    argv = *split;
  }
  if (options.command == Command::kServe && !options.listen) {
    std::string unused;
    options.listen = ParseListenAddress(kDefaultListen, unused);
  }
  return options;
}

const char* UsageText() {
  // One text, with the parts that differ between the Linux and the Windows build.
  return R"(Usage: calvora-ctl [--handle H | --pid P] COMMAND [OPTIONS]

)"
#ifdef _WIN32
         R"(Controls a running Calvora Audio Mixer with window messages, as a controlling
program does.)"
#else
         R"(Controls a running Calvora Audio Mixer over the session bus, as a controlling
program does.)"
#endif
         R"( The utility obeys commands only while its interactive mode
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
                     dB, byte count of the samples). Ends on Ctrl+C, )"
#ifdef _WIN32
         R"(when the
                     console closes, after --duration, or when the utility
                     says goodbye.)"
#else
         R"(SIGTERM,
                     after --duration, or when the utility says goodbye.)"
#endif
         R"(
  auto               What a simple controlling program does: announce itself,
                     start the work with restore, answer every silence
                     notification with mute and every sound-back notification
                     with restore, printing each step as watch does.
)"
#ifndef _WIN32
         R"(  serve              A quiet watch that serves metrics (--listen, by default
                     127.0.0.1:9794); takes the station options below too.
)"
#endif
         R"(  bye                Send a goodbye from this program's window.
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

)"
#ifdef _WIN32
         R"(Station options (watch, auto). An event)"
#else
         R"(Station options (watch, auto, serve). An event)"
#endif
         R"( is a notification that changes
what is known: the air falls silent or sound comes back, the sound card or
the mixer goes offline or comes online. Repeats (a device's offline notice on
every check while it stays offline) are no new events.
  --on-silence CMD   Run CMD when the air falls silent.
  --on-sound CMD     Run CMD when sound comes back.
  --on-offline CMD   Run CMD when the sound card or the mixer goes offline.
  --on-online CMD    Run CMD when the sound card or the mixer comes online.
)"
#ifdef _WIN32
         R"(                     CMD is split into words as Windows splits a command line
                     ("..." quotes; a backslash stays, except before a quote)
                     and started without a shell (name cmd /c for one).
                     Its environment adds)"
#else
         R"(                     CMD is split into words as a shell splits them ('...'
                     and "..." quote, \ escapes) and started without a shell;
                     nothing in it is expanded. Its environment adds)"
#endif
         R"(
                     CALVORA_EVENT (silence, sound, offline, online),
                     CALVORA_DEVICE (card, mixer), CALVORA_TIME (ISO 8601 with
                     the zone), CALVORA_LEFT_DB and CALVORA_RIGHT_DB (the last
                     block's levels; empty before the first) and CALVORA_HANDLE.
                     Its output and exit status go to stderr, one line each.
                     One instance of each command runs at a time: an event
                     that comes meanwhile runs it again once it has ended, and
                     a later one replaces it (the last state wins).
)"
#ifndef _WIN32
         R"(  --shell            Run each CMD with sh -c instead ($VARIABLES, pipes, ...).
)"
#endif
         R"(  --log DIR          Append one line per event to DIR/YYYY-MM-DD.log (local
                     date): time with the zone, event, device, levels. The
                     folder is made (again) when missing; a line that cannot
                     be written is told on stderr.
)"
#ifndef _WIN32
         R"(  --listen HOST:PORT Serve http://HOST:PORT/metrics (Prometheus text format)
                     and /status (JSON). Give 127.0.0.1 or [::1] to serve this
                     machine only (serve's default is 127.0.0.1:9794), 0.0.0.0
                     to serve the network (there is no authentication); port 0
                     takes a free port, told on stderr.
  --station NAME     The station's name: every metric carries station="NAME"
                     (default: this machine's host name), so that one
                     Prometheus tells the stations of a group apart.
)"
#endif
         R"(
Lines printed by watch and auto:
  14:03:07.250 NTF_SILENCE 0
  14:03:07.251 sent CMD_MUTE 0
  14:03:07.260 AUDIO rate=48000 channels=2 bits=16 left=-41.20 right=-40.87 bytes=1920
With --json:
  {"time":"2026-12-07T14:03:07.250","from":12,"code":"NTF_SILENCE","argument":0}
  {"time":"2026-12-07T14:03:07.260","from":12,"code":"AUDIO","kind":0,"size":1942,
   "rate":48000,"channels":2,"bits":16,"left":-41.2,"right":-40.87,"bytes":1920}
Codes: NTF_SILENCE (0x400), NTF_SOUND (0x401), NTF_OFFLINE and NTF_ONLINE
(0x1000, 0x1001; argument 0 the sound card, 1 the mixer), WINMSG_CONTROL (0x7FFF,
argument 2 a goodbye); others are printed in hex.

)"
#ifdef _WIN32
         R"(Protocol: the utility's window has the class TCV_AudioMixer, this program's
a hidden one of the class CalvoraCtl. A command is message 2102, sent with a
1000 ms time-out, with wParam this program's window and lParam = code * 65536
+ argument; audio blocks come as WM_COPYDATA with dwData 0.

Exit status: 0 done; 1 bad command line; 2 no utility or more than one to
choose from; 3 the utility did not answer (gone or timed out).
)";
#else
         R"(Protocol: each window owns the bus name org.calvora.Window.<Class>.H<handle>
and serves /org/calvora/Window, interface org.calvora.Window, with
SendMessage(uuu message, wparam, lparam) -> i and CopyData(uuay) -> i. A
command is message 2102 with lparam = code * 65536 + argument.

Metrics: calvora_silence, calvora_seconds_since_verdict,
calvora_level_db{channel}, calvora_device_online{device},
calvora_device_offline{device}, calvora_silences_total,
calvora_sound_backs_total, calvora_audio_blocks_total,
calvora_seconds_since_audio_block, calvora_loudness_momentary_lufs and
calvora_loudness_short_term_lufs (EBU R128 of the received audio); each with
the label station.

Exit status: 0 done; 1 bad command line; 2 no session bus, or no utility or
more than one to choose from; 3 the utility did not answer (gone or timed out);
4 cannot listen on the --listen address.
)";
#endif
}

}  // namespace calvora::ctl
