#include "CtlOptions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>

#include <CLI/CLI.hpp>

#include "StationName.h"
#include "actions/CommandWords.h"
#ifdef _WIN32
#include "actions/WindowsCommandWords.h"
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

// A value check that CLI11 runs while it reads the words: a refused value is told as
// "needs <needs>, not "<text>"", which the parse completes with the option's name. Only the
// last of a repeated option's values is checked, as only the last one counts.
CLI::Validator ValueCheck(std::string needs, std::function<bool(const std::string&)> takes) {
  CLI::Validator check(
      [needs = std::move(needs), takes = std::move(takes)](std::string& text) {
        if (takes(text))
          return std::string();
        return "needs " + needs + ", not \"" + text + "\"";
      },
      std::string());
  check.application_index(0);
  return check;
}

// The value check of a numeric option: the whole text is a number of type T (decimal, as
// written: no hex, no blanks, no "inf") that `fits` takes.
template <typename T>
CLI::Validator NumberCheck(std::string needs, std::function<bool(T)> fits) {
  return ValueCheck(std::move(needs), [fits = std::move(fits)](const std::string& text) {
    T value{};
    return ParseNumber(text, value) && fits(value);
  });
}

// Takes the numbers from low to high; a NaN is none of them.
template <typename T>
std::function<bool(T)> From(T low, T high) {
  return [low, high](T value) { return value >= low && value <= high; };
}

// An option whose value NumberCheck has checked, stored as a T in `into`.
template <typename T, typename Into>
CLI::Option* AddNumber(CLI::App& app, const std::string& name, Into& into, CLI::Validator check) {
  return app
      .add_option_function<std::string>(name,
                                        [&into](const std::string& text) {
                                          T value{};
                                          ParseNumber(text, value);
                                          into = value;
                                        })
      ->check(std::move(check));
}

// A value check's mistake as CLI11 tells it, "--pid: needs ...", in this program's words:
// "--pid needs ...".
std::string ValueMistake(const CLI::ValidationError& mistake) {
  std::string text = mistake.what();
  const std::size_t colon = text.find(": ");
  if (colon != std::string::npos)
    text.erase(colon, 1);
  return text;
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
  // CLI11 reads the words and checks the numbers and the list of checks, each told in this
  // program's own words; what depends on the command is checked here.
  CLI::App app;
  app.set_help_flag();
  app.allow_extras();
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  CtlOptions options;
  bool help = false;
  bool shell = false;
  std::optional<std::string> logFolder, listen, station, webConfig;
  std::array<std::optional<std::string>, kEventKindCount> actionTexts;
  std::vector<std::string> words;
  auto valued = [&app](const std::string& name, std::optional<std::string>& into) {
    app.add_option_function<std::string>(name, [&into](const std::string& v) { into = v; });
  };
  // -h first: its flag is set before any value check can refuse, so help wins.
  app.add_flag("-h,--help", help);
  AddNumber<uint32_t>(app, "--handle", options.handle,
                      NumberCheck<uint32_t>("a window handle (a positive number)",
                                            [](uint32_t number) { return number > 0; }));
  AddNumber<int32_t>(
      app, "--pid", options.pid,
      NumberCheck<int32_t>("a program ID from -32768 to 32767 other than 0",
                           [](int32_t id) { return id != 0 && id >= -32768 && id <= 32767; }));
  app.add_flag("--json", options.json);
  app.add_flag("--restore", options.restore);
  app.add_flag("--mute", options.mute);
  AddNumber<uint32_t>(
      app, "--levels-every", options.levelsEvery,
      NumberCheck<uint32_t>("a count of 1 or more", [](uint32_t number) { return number > 0; }));
  AddNumber<double>(app, "--duration", options.durationSeconds,
                    NumberCheck<double>("a number of seconds above 0", [](double seconds) {
                      return std::isfinite(seconds) && seconds > 0;
                    }));
  for (EventKind kind : kEventKinds)
    valued(ActionOption(kind), actionTexts[static_cast<std::size_t>(kind)]);
  app.add_flag("--shell", shell);
  valued("--log", logFolder);
  valued("--listen", listen);
  valued("--station", station);
  valued("--web-config", webConfig);
  // The checks' options, to tell whether any was given.
  std::vector<const CLI::Option*> checkSettings;
  checkSettings.push_back(
      app.add_option_function<std::string>(
             "--checks",
             [&options](const std::string& list) { ParseCheckList(list, options.checks); })
          ->check(ValueCheck("all, none, or some of channel,phase,clipping,loudness",
                             [](const std::string& list) {
                               CheckSettings unused;
                               return ParseCheckList(list, unused);
                             })));
  checkSettings.push_back(AddNumber<std::size_t>(
      app, "--clip-runs", options.checks.clipRuns,
      NumberCheck<std::size_t>("a count of runs", [](std::size_t) { return true; })));
  checkSettings.push_back(AddNumber<std::size_t>(
      app, "--clip-length", options.checks.clipRunSamples,
      NumberCheck<std::size_t>("a count of samples from 1 to 1000", From<std::size_t>(1, 1000))));
  for (const CheckNumber& number : CheckNumbers())
    checkSettings.push_back(
        AddNumber<double>(app, number.option, options.checks.*number.field,
                          NumberCheck<double>(number.what, From(number.low, number.high))));
  app.add_option("command", words);

  std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them so
  try {
    app.parse(reversed);
  } catch (const CLI::ArgumentMismatch& mismatch) {
    const std::string what = mismatch.what();  // "--pid: 1 required TEXT missing"
    error = what.substr(0, what.find(':')) + " needs a value";
    return std::nullopt;
  } catch (const CLI::ValidationError& mistake) {
    if (help) {
      options.command = Command::kHelp;
      return options;
    }
    error = ValueMistake(mistake);
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
  if (webConfig) {
    if (webConfig->empty()) {
      error = "--web-config needs a file";
      return std::nullopt;
    }
    options.webConfig = *webConfig;
  }
  const bool checkOptions =
      std::any_of(checkSettings.begin(), checkSettings.end(),
                  [](const CLI::Option* option) { return option->count() > 0; });
  if (options.handle && options.pid) {
    error = "give --handle or --pid, not both";
    return std::nullopt;
  }
#ifdef _WIN32
  // The Windows build has no metrics server, and no sh: a command that wants the shell of
  // Windows names it (cmd /c ...).
  if (options.command == Command::kServe || options.listen || options.webConfig) {
    error = "serve, --listen and --web-config are not available on Windows";
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
  if (options.webConfig && !options.listen && options.command != Command::kServe) {
    error = "--web-config secures the metrics server: it needs serve or --listen";
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

}  // namespace calvora::ctl
