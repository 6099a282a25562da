#include "CtlOptions.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <set>

#include <CLI/CLI.hpp>

#include "ValueChecks.h"

namespace calvora::ctl {

namespace {

constexpr std::array<EventKind, kEventKindCount> kEventKinds{
    EventKind::kSilence,       EventKind::kSound,       EventKind::kOffline,
    EventKind::kOnline,        EventKind::kChannelLost, EventKind::kChannelBack,
    EventKind::kPhaseReversed, EventKind::kPhaseNormal, EventKind::kClipping,
    EventKind::kClippingEnd,   EventKind::kLoudnessOff, EventKind::kLoudnessOk};

constexpr std::array<std::pair<const char*, Command>, 11> kCommands{
    {{"list", Command::kList},
     {"identify", Command::kIdentify},
     {"run", Command::kRun},
     {"stop", Command::kStop},
     {"mute", Command::kMute},
     {"unmute", Command::kUnmute},
     {"watch", Command::kWatch},
     {"bye", Command::kBye},
     {"auto", Command::kAuto},
     {"serve", Command::kServe},
     {"help", Command::kHelp}}};

// A check's numeric setting: its option, where it goes, and the range it takes.
struct CheckNumber {
  const char* option;
  double CheckSettings::*field;
  double low;
  double high;
  const char* what;
};

constexpr std::array<CheckNumber, 9> kCheckNumbers{{
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

// What the options' callbacks gather while CLI11 reads the words, whether an option stands
// before the command or after it; turned into CtlOptions once the command is known.
struct Gathered {
  CtlOptions options;
  std::set<std::string> given;  // the names of the options given
  bool shell = false;
  std::array<std::optional<std::string>, kEventKindCount> actionTexts;
};

// Adds an option with a value, stored by `store` once CLI11 has checked it.
CLI::Option* AddValued(CLI::App& app, Gathered& gathered, const std::string& name,
                       std::function<void(const std::string&)> store) {
  return app.add_option_function<std::string>(
      name, [&gathered, name, store = std::move(store)](const std::string& text) {
        gathered.given.insert(name);
        store(text);
      });
}

CLI::Option* AddFlag(CLI::App& app, Gathered& gathered, const std::string& name, bool& into) {
  return app.add_flag_function(name, [&gathered, name, &into](std::int64_t) {
    gathered.given.insert(name);
    into = true;
  });
}

// A number option, stored as a T in `into`; its checks (a NumberCheck, or Decimal and a
// CLI::Range) make sure the text reads as one.
template <typename T, typename Into>
CLI::Option* AddNumber(CLI::App& app, Gathered& gathered, const std::string& name, Into& into) {
  return AddValued(app, gathered, name, [&into](const std::string& text) {
    T value{};
    ParseNumber(text, value);
    into = value;
  });
}

// The value is a whole decimal number (CLI::Range alone would take "0x10" and " 7").
template <typename T>
CLI::Validator Decimal() {
  return NumberCheck<T>("a decimal number");
}

// The options that only some commands take. Each command's subcommand has those of its groups;
// the main command has all of them too, so that they may also stand before the command, and
// one that stands with a command it does not belong to is told with the group's `elsewhere`.
struct OptionGroup {
  std::vector<Command> commands;
  const char* elsewhere;
  void (*add)(CLI::App& app, Gathered& gathered);
};

const std::vector<Command> kPeers{Command::kWatch, Command::kAuto, Command::kServe};

void AddRunOptions(CLI::App& app, Gathered& gathered) {
  AddFlag(app, gathered, "--restore", gathered.options.restore);
}

void AddStopOptions(CLI::App& app, Gathered& gathered) {
  AddFlag(app, gathered, "--mute", gathered.options.mute);
}

void AddPeerPace(CLI::App& app, Gathered& gathered) {
  AddNumber<uint32_t>(app, gathered, "--levels-every", gathered.options.levelsEvery)
      ->check(Decimal<uint32_t>())
      ->check(LastValue(CLI::Range(1u, std::numeric_limits<uint32_t>::max())));
  AddNumber<double>(app, gathered, "--duration", gathered.options.durationSeconds)
      ->check(NumberCheck<double>("a number of seconds above 0", [](double seconds) {
        return std::isfinite(seconds) && seconds > 0;
      }));
}

void AddStationOptions(CLI::App& app, Gathered& gathered) {
  for (EventKind kind : kEventKinds)
    AddValued(app, gathered, ActionOption(kind), [&gathered, kind](const std::string& text) {
      gathered.actionTexts[static_cast<std::size_t>(kind)] = text;
    });
  AddFlag(app, gathered, "--shell", gathered.shell);
  CtlOptions& options = gathered.options;
  AddValued(app, gathered, "--log", [&options](const std::string& folder) {
    options.logFolder = folder;
  })->check(ValueCheck("a folder", [](const std::string& folder) { return !folder.empty(); }));
  AddValued(app, gathered, "--listen", [&options](const std::string& text) {
    std::string unused;
    options.listen = ParseListenAddress(text, unused);
  })->check(ListenAddressCheck());
  AddValued(app, gathered, "--checks", [&options](const std::string& list) {
    ParseCheckList(list, options.checks);
  })->check(CheckListCheck());
  AddNumber<std::size_t>(app, gathered, "--clip-runs", options.checks.clipRuns)
      ->check(NumberCheck<std::size_t>("a count of runs"));
  AddNumber<std::size_t>(app, gathered, "--clip-length", options.checks.clipRunSamples)
      ->check(Decimal<std::size_t>())
      ->check(LastValue(CLI::Range(std::size_t{1}, std::size_t{1000})));
  for (const CheckNumber& number : kCheckNumbers)
    AddNumber<double>(app, gathered, number.option, options.checks.*number.field)
        ->check(NumberFrom(number.low, number.high, number.what));
}

void AddStationName(CLI::App& app, Gathered& gathered) {
  AddValued(app, gathered, "--station", [&gathered](const std::string& name) {
    gathered.options.station = name;
  })->check(StationNameCheck());
}

void AddWebConfig(CLI::App& app, Gathered& gathered) {
  AddValued(app, gathered, "--web-config", [&gathered](const std::string& file) {
    gathered.options.webConfig = file;
  })->check(ValueCheck("a file", [](const std::string& file) { return !file.empty(); }));
}

// Listening in at /listen and the clips of events, which the server serves.
void AddAudioOptions(CLI::App& app, Gathered& gathered) {
  CtlOptions& options = gathered.options;
  AddNumber<int>(app, gathered, "--listen-bitrate", options.listenBitrate)
      ->check(NumberFrom(6000, 510000, "bits per second from 6000 to 510000 (Opus's range)"));
  AddNumber<int>(app, gathered, "--listen-max", options.listenMax)
      ->check(NumberFrom(1, 256, "listeners from 1 to 256"));
  AddValued(app, gathered, "--clips", [&options](const std::string& folder) {
    options.clipsFolder = folder;
  })->check(ValueCheck("a folder", [](const std::string& folder) { return !folder.empty(); }));
  AddNumber<uint64_t>(app, gathered, "--clips-max-mb", options.clipsMaxMb)
      ->check(NumberFrom<uint64_t>(1, 1024 * 1024, "megabytes from 1 to 1048576"));
  AddNumber<int>(app, gathered, "--clips-days", options.clipsDays)
      ->check(NumberFrom(1, 36500, "days from 1 to 36500"));
}

const std::array<OptionGroup, 7>& OptionGroups() {
  static const std::array<OptionGroup, 7> groups{{
      {{Command::kRun}, "--restore belongs to the command run", AddRunOptions},
      {{Command::kStop}, "--mute belongs to the command stop", AddStopOptions},
      {kPeers, "--levels-every and --duration belong to the commands watch, auto and serve",
       AddPeerPace},
      {kPeers,
       "--on-..., --shell, --log, --listen and the checks belong to the commands watch, auto "
       "and serve",
       AddStationOptions},
      {kPeers, "--station names the station in the metrics: it needs serve or --listen",
       AddStationName},
      {kPeers, "--web-config secures the metrics server: it needs serve or --listen", AddWebConfig},
      {kPeers,
       "--listen-bitrate, --listen-max and --clips... belong to the server: serve, or --listen",
       AddAudioOptions},
  }};
  return groups;
}

// The options every command takes; they may stand before or after the command (the
// subcommands fall through to them).
CLI::Option* AddGlobalOptions(CLI::App& app, Gathered& gathered) {
  CLI::Option* help = app.add_flag("-h,--help");
  CtlOptions& options = gathered.options;
  CLI::Option* handle =
      AddNumber<uint32_t>(app, gathered, "--handle", options.handle)
          ->check(Decimal<uint32_t>())
          ->check(LastValue(CLI::Range(1u, std::numeric_limits<uint32_t>::max())));
  AddNumber<int32_t>(app, gathered, "--pid", options.pid)
      ->check(
          NumberCheck<int32_t>("a program ID from -32768 to 32767 other than 0",
                               [](int32_t id) { return id != 0 && id >= -32768 && id <= 32767; }))
      ->excludes(handle);
  AddFlag(app, gathered, "--json", options.json);
  return help;
}

// A feature some systems lack: the capability that says whether this one has it, and the
// command or options that use it.
struct Feature {
  bool SystemCapabilities::*available;
  std::string what;
  std::vector<std::string> uses;
};

std::vector<Feature> Features() {
  std::vector<std::string> checkOptions{"--checks", "--clip-runs", "--clip-length"};
  for (const CheckNumber& number : kCheckNumbers)
    checkOptions.push_back(number.option);
  for (EventKind kind : kEventKinds)
    if (IsCheckEvent(kind))
      checkOptions.push_back(ActionOption(kind));
  return {{&SystemCapabilities::metricsServer,
           "serve, --listen and --web-config are",
           {"serve", "--listen", "--web-config"}},
          {&SystemCapabilities::oggOpus,
           "listening in and the clips of events (--listen-bitrate, --clips...) are",
           {"--listen-bitrate", "--listen-max", "--clips", "--clips-max-mb", "--clips-days"}},
          {&SystemCapabilities::shell, "--shell is", {"--shell"}},
          {&SystemCapabilities::audioChecks,
           "the checks of the audio (--checks and their settings) are", checkOptions}};
}

// Why the command or an option is not available on this system, or empty.
std::string Unavailable(const std::string& command, const std::set<std::string>& given,
                        const SystemCapabilities& system) {
  for (const Feature& feature : Features()) {
    if (system.*feature.available)
      continue;
    const bool used = std::any_of(feature.uses.begin(), feature.uses.end(), [&](const auto& use) {
      return use == command || given.count(use) > 0;
    });
    if (used)
      return feature.what + " not available on " + system.name +
             (feature.available == &SystemCapabilities::shell ? system.shellInstead : "");
  }
  return {};
}

// The rules that join several options, once the command is known; empty when all hold.
std::string JoinedOptionsProblem(Gathered& gathered, const SystemCapabilities& system) {
  CtlOptions& options = gathered.options;
  const bool server = options.listen || options.command == Command::kServe;
  if (options.station && !server)
    return "--station names the station in the metrics: it needs serve or --listen";
  if (options.webConfig && !server)
    return "--web-config secures the metrics server: it needs serve or --listen";
  for (const char* audio : {"--listen-bitrate", "--listen-max", "--clips"})
    if (gathered.given.count(audio) && !server)
      return std::string(audio) + " is served by the server: it needs serve or --listen";
  for (const char* bound : {"--clips-max-mb", "--clips-days"})
    if (gathered.given.count(bound) && !options.clipsFolder)
      return std::string(bound) + " bounds the clips' folder: it needs --clips DIR";
  const bool anyAction = std::any_of(gathered.actionTexts.begin(), gathered.actionTexts.end(),
                                     [](const auto& text) { return text.has_value(); });
  if (gathered.shell && !anyAction)
    return "--shell needs a command: --on-silence, --on-sound, --on-offline, --on-online or "
           "the --on-... of a check";
  for (EventKind kind : kEventKinds) {
    const auto& text = gathered.actionTexts[static_cast<std::size_t>(kind)];
    if (!text)
      continue;
    auto& argv = options.actions[static_cast<std::size_t>(kind)];
    if (gathered.shell) {
      argv = {"sh", "-c", *text, "calvora-ctl"};
      continue;
    }
    std::string why;
    const auto split = system.splitCommand(*text, why);
    if (!split)
      return ActionOption(kind) + ": " + why;
    argv = *split;
  }
  return {};
}

}  // namespace

std::optional<CtlOptions> ParseCommandLine(const std::vector<std::string>& args, std::string& error,
                                           const SystemCapabilities& system) {
  CLI::App app;
  app.set_help_flag();  // --help is this program's own text (UsageText), at any place
  app.allow_extras();   // told below in this program's words
  app.fallthrough();
  app.require_subcommand(0, 1);
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  Gathered gathered;
  const CLI::Option* help = AddGlobalOptions(app, gathered);
  std::map<std::string, const OptionGroup*> groupOf;  // the options of some commands only
  for (const OptionGroup& group : OptionGroups()) {
    const std::size_t before = app.get_options().size();
    group.add(app, gathered);
    for (std::size_t i = before; i < app.get_options().size(); ++i)
      groupOf.emplace(app.get_options()[i]->get_name(), &group);
  }
  for (const auto& [name, command] : kCommands) {
    CLI::App* sub = app.add_subcommand(name);
    for (const OptionGroup& group : OptionGroups())
      if (std::find(group.commands.begin(), group.commands.end(), command) != group.commands.end())
        group.add(*sub, gathered);
  }

  try {
    std::vector<const char*> argv{"calvora-ctl"};
    for (const std::string& arg : args)
      argv.push_back(arg.c_str());
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError& mistake) {
    if (help->count() > 0) {  // help wins over a mistake in the other words
      gathered.options.command = Command::kHelp;
      return gathered.options;
    }
    error = mistake.what();
    return std::nullopt;
  }
  CtlOptions& options = gathered.options;
  if (help->count() > 0) {
    options.command = Command::kHelp;
    return options;
  }
  const std::vector<CLI::App*> chosen = app.get_subcommands();
  const std::vector<std::string> left = app.remaining(true);
  const auto leftOption = std::find_if(left.begin(), left.end(), [](const std::string& word) {
    return word.size() > 1 && word[0] == '-';
  });
  if (leftOption != left.end()) {
    error = "unknown option " + *leftOption;
    return std::nullopt;
  }
  if (chosen.empty()) {
    error = left.empty() ? "no command given" : "unknown command \"" + left.front() + "\"";
    return std::nullopt;
  }
  const std::string command = chosen.front()->get_name();
  if (!left.empty()) {
    error = "unexpected argument \"" + left.front() + "\"";
    return std::nullopt;
  }
  options.command = std::find_if(kCommands.begin(), kCommands.end(), [&](const auto& entry) {
                      return command == entry.first;
                    })->second;

  error = Unavailable(command, gathered.given, system);
  if (!error.empty())
    return std::nullopt;
  if (!system.audioChecks)
    options.checks.channel = options.checks.phase = options.checks.clipping =
        options.checks.loudness = false;
  for (const std::string& name : gathered.given) {
    const auto group = groupOf.find(name);
    if (group == groupOf.end())
      continue;
    const auto& owners = group->second->commands;
    if (std::find(owners.begin(), owners.end(), options.command) == owners.end()) {
      error = group->second->elsewhere;
      return std::nullopt;
    }
  }
  error = JoinedOptionsProblem(gathered, system);
  if (!error.empty())
    return std::nullopt;
  if (options.command == Command::kServe && !options.listen) {
    std::string unused;
    options.listen = ParseListenAddress(kDefaultListen, unused);
  }
  return options;
}

}  // namespace calvora::ctl
