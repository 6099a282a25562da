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

constexpr std::array<EventKind, kEventKindCount> kEventKinds{
    EventKind::kSilence,       EventKind::kSound,       EventKind::kOffline,
    EventKind::kOnline,        EventKind::kChannelLost, EventKind::kChannelBack,
    EventKind::kPhaseReversed, EventKind::kPhaseNormal, EventKind::kClipping,
    EventKind::kClippingEnd,   EventKind::kLoudnessOff, EventKind::kLoudnessOk};

// A check's numeric setting: its option, where it goes, and the range it takes.
struct CheckNumber {
  const char* option;
  double CheckSettings::*field;
  double low;
  double high;
  const char* what;
};

const std::array<CheckNumber, 9>& CheckNumbers() {
  static const std::array<CheckNumber, 9> numbers{{
      {"--channel-level", &CheckSettings::channelLevelDb, -120, 0, "a level in dB from -120 to 0"},
      {"--channel-for", &CheckSettings::channelLostSeconds, 0.1, 86400, "seconds from 0.1"},
      {"--phase-limit", &CheckSettings::phaseLimit, -1, 1, "a correlation from -1 to 1"},
      {"--phase-for", &CheckSettings::phaseSeconds, 0.1, 86400, "seconds from 0.1"},
      {"--clip-window", &CheckSettings::clipWindowSeconds, 0.1, 3600, "seconds from 0.1 to 3600"},
      {"--loudness-target", &CheckSettings::loudnessTarget, -70, 0, "LUFS from -70 to 0"},
      {"--loudness-margin", &CheckSettings::loudnessMargin, 0.1, 70, "LU from 0.1 to 70"},
      {"--loudness-for", &CheckSettings::loudnessSeconds, 0.1, 86400, "seconds from 0.1"},
      {"--back-for", &CheckSettings::backSeconds, 0.1, 3600, "seconds from 0.1 to 3600"},
  }};
  return numbers;
}

// --checks: a comma-separated list of channel, phase, clipping, loudness, or all or none.
bool ParseCheckList(const std::string& text, CheckSettings& checks) {
  checks.channel = checks.phase = checks.clipping = checks.loudness = false;
  if (text == "none")
    return true;
  if (text == "all") {
    checks.channel = checks.phase = checks.clipping = checks.loudness = true;
    return true;
  }
  std::size_t from = 0;
  while (from <= text.size()) {
    const std::size_t comma = std::min(text.find(',', from), text.size());
    const std::string name = text.substr(from, comma - from);
    bool* flag = name == "channel"    ? &checks.channel
                 : name == "phase"    ? &checks.phase
                 : name == "clipping" ? &checks.clipping
                 : name == "loudness" ? &checks.loudness
                                      : nullptr;
    if (!flag)
      return false;
    *flag = true;
    from = comma + 1;
  }
  return true;
}

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
  std::array<std::optional<std::string>, kEventKindCount> actionTexts;
  std::optional<std::string> checkList, clipRuns, clipLength;
  std::array<std::optional<std::string>, 9> checkNumberTexts;
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
  valued("--checks", checkList);
  valued("--clip-runs", clipRuns);
  valued("--clip-length", clipLength);
  for (std::size_t i = 0; i < CheckNumbers().size(); ++i)
    valued(CheckNumbers()[i].option, checkNumberTexts[i]);
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
  if (checkList && !ParseCheckList(*checkList, options.checks)) {
    error = "--checks needs all, none, or some of channel,phase,clipping,loudness, not \"" +
            *checkList + "\"";
    return std::nullopt;
  }
  for (std::size_t i = 0; i < CheckNumbers().size(); ++i) {
    const CheckNumber& number = CheckNumbers()[i];
    const auto& text = checkNumberTexts[i];
    double& value = options.checks.*number.field;
    if (text && (!ParseNumber(*text, value) || !(value >= number.low && value <= number.high))) {
      error = std::string(number.option) + " needs " + number.what + ", not \"" + *text + "\"";
      return std::nullopt;
    }
  }
  if (clipRuns && !ParseNumber(*clipRuns, options.checks.clipRuns)) {
    error = "--clip-runs needs a count of runs, not \"" + *clipRuns + "\"";
    return std::nullopt;
  }
  if (clipLength && (!ParseNumber(*clipLength, options.checks.clipRunSamples) ||
                     options.checks.clipRunSamples < 1 || options.checks.clipRunSamples > 1000)) {
    error = "--clip-length needs a count of samples from 1 to 1000, not \"" + *clipLength + "\"";
    return std::nullopt;
  }
  const bool checkOptions = checkList || clipRuns || clipLength ||
                            std::any_of(checkNumberTexts.begin(), checkNumberTexts.end(),
                                        [](const auto& text) { return text.has_value(); });
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
  // The Windows build receives no audio blocks to check.
  bool checkActions = false;
  for (EventKind kind : kEventKinds)
    checkActions =
        checkActions || (IsCheckEvent(kind) && actionTexts[static_cast<std::size_t>(kind)]);
  if (checkOptions || checkActions) {
    error = "the checks of the audio (--checks and their settings) are not available on Windows";
    return std::nullopt;
  }
  options.checks.channel = options.checks.phase = options.checks.clipping =
      options.checks.loudness = false;
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
  if (!peer && (anyAction || shell || options.logFolder || options.listen || checkOptions)) {
    error =
        "--on-..., --shell, --log, --listen and the checks belong to the commands watch, "
        "auto and serve";
    return std::nullopt;
  }
  if (options.station && !options.listen && options.command != Command::kServe) {
    error = "--station names the station in the metrics: it needs serve or --listen";
    return std::nullopt;
  }
  if (shell && !anyAction) {
    error =
        "--shell needs a command: --on-silence, --on-sound, --on-offline, --on-online or "
        "the --on-... of a check";
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
#ifndef _WIN32
         R"(  --on-channel-lost CMD, --on-channel-back CMD, --on-phase-reversed CMD,
  --on-phase-normal CMD, --on-clipping CMD, --on-clipping-end CMD,
  --on-loudness-off CMD, --on-loudness-ok CMD
                     Run CMD on an event of the checks below.
)"
#endif
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
         R"(  --listen HOST:PORT Serve http://HOST:PORT/metrics (Prometheus text format),
                     /status (JSON) and the live page at /. Give 127.0.0.1 or
                     [::1] to serve this machine only (serve's default is
                     127.0.0.1:9794), 0.0.0.0 to serve the network (there is
                     no authentication); port 0 takes a free port, told on
                     stderr.
  --station NAME     The station's name: every metric carries station="NAME"
                     (default: this machine's host name), so that one
                     Prometheus tells the stations of a group apart.
)"
         R"(
Checks of the received audio (watch, auto, serve), each an event when it starts
and when it ends, printed as a line "EVENT name [channel] value" by watch and
auto. Times are seconds of audio; faults end after --back-for S (default 2).
  --checks LIST      all (default), none, or some of channel,phase,clipping,
                     loudness.
  --channel-level DB --channel-for S
                     channel-lost: one channel's level (half its peak-to-peak,
                     so a stuck or DC signal reads as none) below DB (default
                     -38) for S seconds (default 10) while the other is above;
                     channel-back once both play (value: the level).
  --phase-limit R --phase-for S
                     phase-reversed: the correlation over 400 ms below R
                     (default -0.5) for S seconds (default 5) while both
                     channels carry sound (value: the correlation).
  --clip-length N --clip-runs N --clip-window S
                     clipping: more than --clip-runs (default 10) runs of
                     --clip-length (default 3) samples at full scale within S
                     seconds (default 10); clipping-end after S seconds
                     without one (value: the runs in the window).
  --loudness-target LUFS --loudness-margin LU --loudness-for S
                     loudness-off: the short-term loudness more than LU
                     (default 10) from LUFS (default -23) for S seconds
                     (default 60); loudness-ok once within (value: the LUFS).
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
calvora_seconds_since_audio_block, calvora_loudness_momentary_lufs,
calvora_loudness_short_term_lufs, calvora_loudness_integrated_lufs (EBU R128
of the received audio), calvora_true_peak_dbtp{channel} (last 3 s),
calvora_true_peak_max_dbtp{channel}, calvora_phase_correlation,
calvora_phase_reversed, calvora_channel_lost{channel},
calvora_clipping_runs_total{channel}, calvora_clipping,
calvora_loudness_off_target, calvora_dc_offset{channel} and
calvora_events_total{event}; each with the label station. The page at / shows
the station live.

Exit status: 0 done; 1 bad command line; 2 no session bus, or no utility or
more than one to choose from; 3 the utility did not answer (gone or timed out);
4 cannot listen on the --listen address.
)";
#endif
}

}  // namespace calvora::ctl
