// calvora-ctl as a station's peer: the command words, the events it makes of the
// notifications, the commands it runs, the event log and the metrics.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>

#include "actions/ActionRunner.h"
#include "actions/CommandWords.h"
#include "cli/CtlOptions.h"
#include "cli/StartFolders.h"
#include "events/EventLog.h"
#include "events/StationEvents.h"
#include "link/WinMSG.h"
#include "monitor/AudioAnalyser.h"
#include "monitor/StationMonitor.h"
#include "server/ExpositionWriter.h"
#include "server/LiveJson.h"
#include "server/MetricsExposition.h"
#include "server/StatusJson.h"
#include "system/WorkerThread.h"

namespace calvora::ctl {
namespace {

namespace fs = std::filesystem;

// A folder of its own for each test, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "calvora-ctl-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempFolder() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The reports of a runner or a log, gathered from whatever thread makes them.
struct Reports {
  std::mutex mutex;
  std::vector<std::string> lines;
  std::function<void(std::string)> Sink() {
    return [this](std::string line) {
      std::lock_guard lock(mutex);
      lines.push_back(std::move(line));
    };
  }
  std::string All() {
    std::lock_guard lock(mutex);
    std::string all;
    for (const auto& line : lines)
      all += line + "\n";
    return all;
  }
};

TEST(CommandWords, SplitAsAShellSplitsWithoutExpanding) {
  std::string error;
  using Words = std::vector<std::string>;
  EXPECT_EQ(*SplitCommandWords("  page  --to 'on call'\t\"a \\\"b\\\" \\$HOME\" ''", error),
            (Words{"page", "--to", "on call", "a \"b\" $HOME", ""}));
  EXPECT_EQ(*SplitCommandWords("a\\ b c\\'d 'x\\y' $HOME ~ *", error),
            (Words{"a b", "c'd", "x\\y", "$HOME", "~", "*"}));
  EXPECT_EQ(*SplitCommandWords("one\\\ntwo \"th\"'ree'", error), (Words{"onetwo", "three"}));

  for (const auto& [text, reason] : std::vector<std::pair<std::string, std::string>>{
           {"notify 'dead air", "the command has an unfinished 'single quote'"},
           {"notify \"dead air", "the command has an unfinished \"double quote\""},
           {"notify \\", "a backslash ends the command"},
           {"   ", "the command is empty"}}) {
    EXPECT_FALSE(SplitCommandWords(text, error)) << text;
    EXPECT_EQ(error, reason);
  }
}

TEST(CtlOptions, StationOptionsBelongToThePeers) {
  std::string error;
  const auto options =
      ParseCommandLine({"auto", "--on-silence", "page 'dead air'", "--on-online", "true", "--log",
                        "/var/log/calvora", "--listen", "[::1]:9100"},
                       error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->actions[0], (std::vector<std::string>{"page", "dead air"}));
  EXPECT_TRUE(options->actions[1].empty());
  EXPECT_EQ(options->actions[3], (std::vector<std::string>{"true"}));
  EXPECT_EQ(options->logFolder, "/var/log/calvora");
  EXPECT_EQ(options->listen->host, "::1");
  EXPECT_EQ(options->listen->port, 9100);

  const auto shell = ParseCommandLine({"watch", "--shell", "--on-sound", "echo $X | mail"}, error);
  ASSERT_TRUE(shell) << error;
  EXPECT_EQ(shell->actions[1],
            (std::vector<std::string>{"sh", "-c", "echo $X | mail", "calvora-ctl"}));

  const auto serve = ParseCommandLine({"serve"}, error);
  ASSERT_TRUE(serve);
  EXPECT_EQ(serve->listen->host, "127.0.0.1");
  EXPECT_EQ(serve->listen->port, 9794);
  EXPECT_EQ(ParseCommandLine({"serve", "--listen", ":0"}, error)->listen->host, "127.0.0.1");
  EXPECT_FALSE(serve->station);  // the host name, found where the metrics are served
  EXPECT_EQ(ParseCommandLine({"serve", "--station", "studio \"b\""}, error)->station,
            "studio \"b\"");
  EXPECT_EQ(ParseCommandLine({"auto", "--listen", ":0", "--station", "tx-1"}, error)->station,
            "tx-1");

  for (const auto& [args, reason] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"auto", "--on-silence", "a 'b"}, "--on-silence: the command has an unfinished"},
           {{"auto", "--on-offline", ""}, "--on-offline: the command is empty"},
           {{"auto", "--on-sound"}, "--on-sound: 1 required"},
           {{"auto", "--on-sundown", "x"}, "unknown option --on-sundown"},
           {{"mute", "--log", "/tmp"}, "--on-..., --shell, --log, --listen and the checks belong"},
           {{"run", "--on-silence", "x"},
            "--on-..., --shell, --log, --listen and the checks belong"},
           {{"watch", "--shell"}, "--shell needs a command"},
           {{"serve", "--listen", "9100"}, "--listen: needs HOST:PORT"},
           {{"serve", "--listen", "localhost:65536"}, "--listen: needs HOST:PORT"},
           {{"serve", "--listen", "[::1:80"}, "--listen: needs HOST:PORT"},
           {{"serve", "--log", ""}, "--log: needs a folder"},
           {{"serve", "--station", ""}, "--station: the station needs a name"},
           {{"serve", "--station", "studio\n1"}, "--station: the station's name holds a control"},
           {{"watch", "--station", "studio-a"}, "--station names the station in the metrics"},
           {{"list", "--station", "studio-a"}, "--station names the station in the metrics"}}) {
    EXPECT_FALSE(ParseCommandLine(args, error)) << args[0];
    EXPECT_EQ(error.rfind(reason, 0), 0u) << error;
  }
}

TEST(EventTracker, OnlyChangesAreEvents) {
  EventTracker tracker;
  auto notice = [&](uint16_t code, uint16_t argument) -> std::string {
    const auto event = tracker.Notice(code, argument);
    return event ? std::string(EventName(event->kind)) + " " + DeviceName(event->device) : "-";
  };
  EXPECT_EQ(notice(link::NTF_ONLINE, link::DEV_CARD), "online card");
  EXPECT_EQ(notice(link::NTF_ONLINE, link::DEV_CARD), "-");
  EXPECT_EQ(notice(link::NTF_ONLINE, link::DEV_MIXER), "online mixer");
  EXPECT_EQ(notice(link::NTF_SILENCE, 0), "silence card");
  EXPECT_EQ(notice(link::NTF_SILENCE, 0), "-");
  EXPECT_EQ(notice(link::NTF_SOUND, 0), "sound card");
  EXPECT_EQ(notice(link::NTF_SILENCE, 0), "silence card");
  // The offline notice comes on every check while the card stays away.
  EXPECT_EQ(notice(link::NTF_OFFLINE, link::DEV_CARD), "offline card");
  EXPECT_EQ(notice(link::NTF_OFFLINE, link::DEV_CARD), "-");
  EXPECT_FALSE(tracker.Silent());  // nothing is known of the air without the card
  EXPECT_EQ(notice(link::NTF_ONLINE, link::DEV_CARD), "online card");
  EXPECT_EQ(notice(link::NTF_SILENCE, 0), "silence card");  // a new silence after the return
  EXPECT_EQ(notice(link::NTF_OFFLINE, 7), "-");             // no such device
  EXPECT_EQ(notice(link::CMD_MUTE, 0), "-");
  EXPECT_EQ(tracker.Online(Device::kMixer), true);

  // A silence learnt by asking is no event, and its notice then is none either; its end is.
  EventTracker joined;
  joined.Learn(SilentFromVerdict(link::VERDICT_SILENCE));
  EXPECT_EQ(joined.Silent(), true);
  EXPECT_FALSE(joined.Notice(link::NTF_SILENCE, 0));
  EXPECT_EQ(joined.Notice(link::NTF_SOUND, 0)->kind, EventKind::kSound);
  // Every answer but sound and silence leaves the air unknown.
  for (const int32_t answer : {link::VERDICT_UNKNOWN, link::VERDICT_NOT_STARTED,
                               link::VERDICT_NO_CAPTURE, link::VERDICT_NO_DETECTION, 6, -1}) {
    joined.Learn(SilentFromVerdict(answer));
    EXPECT_FALSE(joined.Silent()) << answer;
  }
  joined.Learn(SilentFromVerdict(link::VERDICT_SOUND));
  EXPECT_EQ(joined.Silent(), false);
  EXPECT_STREQ(VerdictName(0), "unknown");
  EXPECT_STREQ(VerdictName(link::VERDICT_NO_CAPTURE), "no capture");
  EXPECT_STREQ(VerdictName(link::VERDICT_NO_DETECTION), "no detection");
}

TEST(EventLog, OneLinePerEventInTheDaysFileAndTheFolderMadeAgain) {
  TempFolder temp;
  const fs::path folder = temp.path() / "log";
  Reports reports;
  EventLog log(folder.string() + "/", false, reports.Sink());
  StationEvent event{EventKind::kSilence,
                     Device::kCard,
                     {"2026-12-07", "23:59:59.999", "2026-12-07T23:59:59.999+01:00"},
                     -90.3,
                     -88.125};
  ASSERT_TRUE(log.Write(event));  // the folder is made
  event.kind = EventKind::kOffline;
  event.device = Device::kMixer;
  event.left = std::nan("");
  ASSERT_TRUE(log.Write(event));
  EXPECT_EQ(ReadFile(folder / "2026-12-07.log"),
            "2026-12-07T23:59:59.999+01:00 silence card left=-90.30 right=-88.12\n"
            "2026-12-07T23:59:59.999+01:00 offline mixer left=- right=-\n");

  // The folder vanishes and a file stands in its way: the line is told, then the log
  // works again once the way is clear.
  fs::remove_all(folder);
  std::ofstream(folder.string()) << "in the way";
  event.at.date = "2026-12-08";
  EXPECT_FALSE(log.Write(event));
  EXPECT_NE(reports.All().find("cannot open the event log " + folder.string() + "/2026-12-08.log"),
            std::string::npos)
      << reports.All();
  EXPECT_NE(reports.All().find("offline mixer"), std::string::npos);
  fs::remove(folder);
  EXPECT_TRUE(log.Write(event));
  EXPECT_NE(reports.All().find("works again"), std::string::npos);
  EXPECT_EQ(ReadFile(folder / "2026-12-08.log"),
            "2026-12-07T23:59:59.999+01:00 offline mixer left=- right=-\n");

  EventLog json(folder.string(), true, reports.Sink());
  ASSERT_TRUE(json.Write(event));
  const std::string both = ReadFile(folder / "2026-12-08.log");
  EXPECT_EQ(both.substr(both.find('\n') + 1),
            R"({"time":"2026-12-07T23:59:59.999+01:00","event":"offline","device":"mixer",)"
            R"("left":null,"right":-88.125})"
            "\n");

  // A link under a day's name leads nowhere, and a pipe nobody reads holds nothing up: the
  // line is told instead.
  std::ofstream(temp.path() / "elsewhere") << "kept\n";
  fs::create_symlink(temp.path() / "elsewhere", folder / "2026-12-09.log");
  ASSERT_EQ(mkfifo((folder / "2026-12-10.log").c_str(), 0600), 0);
  for (const char* date : {"2026-12-09", "2026-12-10"}) {
    event.at.date = date;
    EXPECT_FALSE(log.Write(event)) << date;
    EXPECT_NE(reports.All().find("cannot open the event log " + log.PathFor(date)),
              std::string::npos)
        << reports.All();
  }
  EXPECT_EQ(ReadFile(temp.path() / "elsewhere"), "kept\n");
}

TEST(StartFolders, TheFoldersWrittenToAreMadeAndTriedAtTheStart) {
  TempFolder temp;
  CtlOptions options;
  options.logFolder = (temp.path() / "log" / "station").string();
  options.clipsFolder = (temp.path() / "clips").string();
  EXPECT_EQ(StartFoldersProblem(options), "");
  EXPECT_TRUE(fs::is_directory(temp.path() / "log" / "station"));
  EXPECT_TRUE(fs::is_empty(temp.path() / "clips"));  // the file tried is gone
  std::ofstream(temp.path() / "file") << "in the way";
  options.clipsFolder = (temp.path() / "file" / "clips").string();
  EXPECT_EQ(StartFoldersProblem(options).rfind(
                "--clips " + *options.clipsFolder + ": the folder cannot be used (", 0),
            0u)
      << StartFoldersProblem(options);
  options.logFolder = (temp.path() / "file").string();
  EXPECT_EQ(StartFoldersProblem(options).rfind("--log ", 0), 0u) << StartFoldersProblem(options);
}

TEST(EventLog, StampsCarryTheZone) {
  setenv("TZ", "Europe/Ljubljana", 1);
  tzset();
  const Stamp at = StampNow();
  unsetenv("TZ");
  tzset();
  ASSERT_EQ(at.iso.size(), 29u) << at.iso;
  EXPECT_EQ(at.iso.substr(0, 11), at.date + "T");
  EXPECT_EQ(at.iso.substr(11, 12), at.clock);
  const std::string zone = at.iso.substr(23);
  EXPECT_TRUE(zone == "+01:00" || zone == "+02:00") << at.iso;
}

// A command that appends its event to a file, taking its time.
std::vector<std::string> Recorder(const fs::path& file, double seconds) {
  return {"sh", "-c",
          "echo \"$CALVORA_EVENT $1\" >> '" + file.string() + "'; sleep " +
              std::to_string(seconds) + "; echo done; exit 4",
          "recorder", "arg with blanks"};
}

TEST(ActionRunner, OneInstanceAtATimeAndTheLastEventWins) {
  TempFolder temp;
  const fs::path file = temp.path() / "runs";
  Reports reports;
  {
    ActionRunner runner("on-silence", Recorder(file, 0.4), reports.Sink());
    runner.Trigger({"CALVORA_EVENT=first"});
    // Whatever comes while the first runs: only the last is run after it.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (const char* event : {"CALVORA_EVENT=second", "CALVORA_EVENT=third"})
      runner.Trigger({event});
    ASSERT_TRUE(runner.WaitIdle(10000));
    EXPECT_EQ(runner.Started(), 2u);
    EXPECT_EQ(runner.Skipped(), 1u);
  }
  EXPECT_EQ(ReadFile(file), "first arg with blanks\nthird arg with blanks\n");
  const std::string all = reports.All();
  EXPECT_NE(all.find("on-silence: sh: done\n"), std::string::npos) << all;
  EXPECT_NE(all.find("on-silence: sh (pid "), std::string::npos) << all;
  EXPECT_NE(all.find(") exited with 4 after 0."), std::string::npos) << all;
}

TEST(ActionRunner, TriggerNeverWaitsAndFailuresAreTold) {
  TempFolder temp;
  Reports reports;
  ActionRunner slow("on-sound", Recorder(temp.path() / "runs", 1), reports.Sink());
  const auto before = std::chrono::steady_clock::now();
  for (int i = 0; i < 100; ++i)
    slow.Trigger({"CALVORA_EVENT=sound"});
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
  ASSERT_TRUE(slow.WaitIdle(20000));
  // The first, perhaps, and the last ran; the others were skipped.
  EXPECT_LE(slow.Started(), 2u);
  EXPECT_EQ(slow.Started() + slow.Skipped(), 100u);

  ActionRunner missing("on-offline", {"/nonexistent/pager", "x"}, reports.Sink());
  missing.Trigger({});
  ASSERT_TRUE(missing.WaitIdle(10000));
  EXPECT_NE(reports.All().find("on-offline: could not start /nonexistent/pager: No such file"),
            std::string::npos)
      << reports.All();

  // A command killed by a signal, and one whose helper keeps the output open after it ended.
  ActionRunner killed("on-online", {"sh", "-c", "(sleep 3 &) ; kill -9 $$"}, reports.Sink());
  killed.Trigger({});
  ASSERT_TRUE(killed.WaitIdle(10000));
  EXPECT_NE(reports.All().find("was killed by signal 9"), std::string::npos) << reports.All();
}

// The worker thread's bounded stop: it lets the thread finish the work it holds, and lets go
// of one that is stuck past the stop time, whose state stays its own to finish with.
TEST(WorkerThread, StopWaitsForTheWorkButNotForAStuckThread) {
  struct Jobs : WorkerState {
    explicit Jobs(int n) : pending(n) {}
    int pending;
    int done = 0;
  };
  WorkerThread<Jobs> jobs(
      std::chrono::milliseconds(5000),
      [](Jobs& s) {
        std::unique_lock lock(s.mutex);
        for (;;) {
          s.wake.wait(lock, [&s] { return s.quit || s.pending > 0; });
          if (s.pending == 0)
            return;
          --s.pending;
          lock.unlock();
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
          lock.lock();
          ++s.done;
        }
      },
      3);
  EXPECT_TRUE(jobs.Stop());
  EXPECT_EQ(jobs->done, 3);

  struct Stuck : WorkerState {
    Stuck(std::shared_future<void> r, std::shared_ptr<std::atomic<bool>> f)
        : release(std::move(r)), finished(std::move(f)) {}
    std::shared_future<void> release;
    std::shared_ptr<std::atomic<bool>> finished;
    int after = 0;
  };
  std::promise<void> release;
  auto finished = std::make_shared<std::atomic<bool>>(false);
  const auto before = std::chrono::steady_clock::now();
  {
    WorkerThread<Stuck> stuck(
        std::chrono::milliseconds(100),
        [](Stuck& s) {
          s.release.wait_for(std::chrono::seconds(5));
          const std::lock_guard lock(s.mutex);
          s.after = 1;  // the state outlives its owner
          *s.finished = true;
        },
        release.get_future().share(), finished);
    EXPECT_FALSE(stuck.Stop());
  }
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
  release.set_value();
  while (!*finished)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// Interleaved 16-bit stereo: a 1 kHz sine at the given peak level on both channels.
std::vector<uint8_t> Sine(double db, int rate, int frames, int& phase) {
  std::vector<int16_t> samples;
  const double amplitude = 32767.0 * std::pow(10.0, db / 20.0);
  for (int i = 0; i < frames; ++i, ++phase) {
    const auto value =
        static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * 1000.0 * phase / rate)));
    samples.push_back(value);
    samples.push_back(value);
  }
  std::vector<uint8_t> bytes(samples.size() * 2 + 1);  // one byte on: samples not aligned
  std::memcpy(bytes.data() + 1, samples.data(), samples.size() * 2);
  return bytes;
}

double Metric(const std::string& text, const std::string& name) {
  const std::size_t at = text.find("\n" + name + " ");
  return at == std::string::npos ? -999.0
                                 : std::strtod(text.c_str() + at + name.size() + 2, nullptr);
}

std::string Metrics(StationMonitor& monitor) {
  return MetricsExposition(monitor.Snapshot());
}

// A block as the station services take it: through the analyser into the monitor.
void Feed(StationMonitor& monitor, AudioAnalyser& analyser, int rate, double db,
          std::span<const uint8_t> samples) {
  analyser.OnBlock(rate, 2, samples);
  monitor.OnAudio(rate, db, db);
  monitor.OnReadings(analyser.Readings());
}

TEST(StationMonitor, LoudnessOfASineAtMinus23ReadsMinus23Lufs) {
  StationMonitor monitor;
  CheckSettings checks;
  AudioAnalyser analyser(checks);
  int phase = 0;
  for (int block = 0; block < 400; ++block) {  // 4 s in 10 ms blocks
    const auto bytes = Sine(-23.0, 48000, 480, phase);
    Feed(monitor, analyser, 48000, -23.0, std::span(bytes).subspan(1));
  }
  const std::string text = Metrics(monitor);
  EXPECT_NEAR(Metric(text, "calvora_loudness_short_term_lufs"), -23.0, 0.05) << text;
  EXPECT_NEAR(Metric(text, "calvora_loudness_momentary_lufs"), -23.0, 0.05);
  EXPECT_EQ(Metric(text, "calvora_audio_blocks_total"), 400);
  EXPECT_NE(text.find("\ncalvora_level_dbfs{channel=\"left\"} -23\n"), std::string::npos);
  EXPECT_NE(text.find("\ncalvora_device_online{device=\"card\"} 1\n"), std::string::npos);

  // Another rate starts the measurement again rather than mixing the two.
  for (int block = 0; block < 50; ++block) {
    const auto bytes = Sine(-33.0, 44100, 441, phase);
    Feed(monitor, analyser, 44100, -33.0, std::span(bytes).subspan(1));
  }
  EXPECT_NEAR(Metric(Metrics(monitor), "calvora_loudness_momentary_lufs"), -33.0, 0.2);
}

TEST(StationMonitor, VerdictsCountsAndTheStatus) {
  StationMonitor monitor;
  // Times are written as Unix seconds: one a double holds exactly.
  const StationMonitor::Clock::time_point start{std::chrono::milliseconds(1796642400250)};
  std::string text = Metrics(monitor);
  EXPECT_NE(text.find("\ncalvora_last_verdict_timestamp_seconds NaN\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\ncalvora_last_audio_block_timestamp_seconds NaN\n"), std::string::npos);
  EXPECT_NE(text.find("\ncalvora_loudness_short_term_lufs NaN\n"), std::string::npos);
  EXPECT_NE(text.find("\ncalvora_dc_offset_ratio{channel=\"left\"} NaN\n"), std::string::npos);
  EXPECT_NE(text.find("\ncalvora_phase_correlation NaN\n"), std::string::npos);
  // The verdicts are counted once, in calvora_events_total.
  EXPECT_NE(text.find("\ncalvora_events_total{event=\"silence\"} 0\n"), std::string::npos);
  EXPECT_EQ(text.find("calvora_silences_total"), std::string::npos);

  // Nothing is known of the air before the utility says: no all-clear.
  EXPECT_NE(text.find("\ncalvora_silence NaN\n"), std::string::npos) << text;
  EXPECT_EQ(Metric(text, "calvora_utility_up"), 0);
  std::string status = StatusJson(monitor.Snapshot(), start);
  EXPECT_NE(status.find(R"({"utility":"not running","silence":null,)"), std::string::npos)
      << status;
  monitor.OnUtility(true);
  EXPECT_EQ(Metric(Metrics(monitor), "calvora_utility_up"), 1);
  EXPECT_NE(Metrics(monitor).find("\ncalvora_silence NaN\n"), std::string::npos);
  // The answer to the verdict question sets the air, and is no verdict of its own time.
  monitor.OnVerdict(true);
  text = Metrics(monitor);
  EXPECT_EQ(Metric(text, "calvora_silence"), 1);
  EXPECT_NE(text.find("\ncalvora_last_verdict_timestamp_seconds NaN\n"), std::string::npos);
  status = StatusJson(monitor.Snapshot(), start);
  EXPECT_NE(status.find(R"({"utility":"running","silence":true,)"), std::string::npos) << status;
  EXPECT_NE(LiveJson(monitor.Snapshot()).find(R"({"utility":true,)"), std::string::npos);
  monitor.OnVerdict(std::nullopt);  // the work stopped: not known
  EXPECT_NE(Metrics(monitor).find("\ncalvora_silence NaN\n"), std::string::npos);
  EXPECT_NE(LiveJson(monitor.Snapshot()).find(R"("silence":null)"), std::string::npos);

  StationEvent event;
  event.at.iso = "2026-12-07T10:00:00.000+01:00";
  monitor.OnEvent(event, start);  // silence
  text = Metrics(monitor);
  EXPECT_EQ(Metric(text, "calvora_silence"), 1);
  EXPECT_EQ(Metric(text, "calvora_last_verdict_timestamp_seconds"), 1796642400.25) << text;
  event.kind = EventKind::kSound;
  monitor.OnEvent(event, start);
  event.kind = EventKind::kOffline;
  event.device = Device::kMixer;
  monitor.OnEvent(event, start);
  text = Metrics(monitor);
  EXPECT_EQ(Metric(text, "calvora_silence"), 0);
  EXPECT_EQ(Metric(text, "calvora_events_total{event=\"silence\"}"), 1);
  EXPECT_EQ(Metric(text, "calvora_events_total{event=\"sound\"}"), 1);
  // The mixer told offline, the card never told: only the mixer is offline.
  EXPECT_NE(text.find("\ncalvora_device_offline{device=\"mixer\"} 1\n"), std::string::npos);
  EXPECT_NE(text.find("\ncalvora_device_offline{device=\"card\"} 0\n"), std::string::npos);

  status = StatusJson(monitor.Snapshot(), start + std::chrono::seconds(2));
  EXPECT_NE(status.find(R"("lastVerdict":{"event":"sound","time":"2026-12-07T10:00:00.000+01:00",)"
                        R"("secondsAgo":2.0})"),
            std::string::npos)
      << status;
  EXPECT_NE(status.find(R"("online":{"card":null,"mixer":false})"), std::string::npos) << status;
  EXPECT_NE(status.find(R"("levels":null)"), std::string::npos) << status;
  EXPECT_NE(status.find(R"("silences":1,"soundBacks":1,)"), std::string::npos) << status;

  // A block tells the card online, and its time.
  monitor.OnAudio(48000, -20, -20, start + std::chrono::seconds(1));
  text = Metrics(monitor);
  EXPECT_EQ(Metric(text, "calvora_last_audio_block_timestamp_seconds"), 1796642401.25) << text;
  EXPECT_NE(text.find("\ncalvora_device_online{device=\"card\"} 1\n"), std::string::npos);

  // In a silence the sound card goes: nothing is known of the air any more.
  AudioReadings readings;
  readings.momentaryLufs = -23;
  readings.dcOffset = {0.25, 0};
  monitor.OnReadings(readings);
  event.kind = EventKind::kSilence;
  monitor.OnEvent(event, start);
  event.kind = EventKind::kOffline;
  event.device = Device::kCard;
  monitor.OnEvent(event, start);
  text = Metrics(monitor);
  EXPECT_NE(text.find("\ncalvora_silence NaN\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\ncalvora_device_offline{device=\"card\"} 1\n"), std::string::npos);
  EXPECT_NE(text.find("\ncalvora_loudness_momentary_lufs NaN\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\ncalvora_dc_offset_ratio{channel=\"left\"} NaN\n"), std::string::npos);

  // The utility leaves in a silence: nothing is known of the air nor of its devices, and the
  // counts stay.
  monitor.OnVerdict(true);
  monitor.OnReadings(readings);
  monitor.OnUtility(false);
  text = Metrics(monitor);
  EXPECT_EQ(Metric(text, "calvora_utility_up"), 0);
  EXPECT_NE(text.find("\ncalvora_silence NaN\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\ncalvora_loudness_momentary_lufs NaN\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\ncalvora_device_offline{device=\"card\"} 0\n"), std::string::npos);
  EXPECT_EQ(Metric(text, "calvora_events_total{event=\"silence\"}"), 2);
  status = StatusJson(monitor.Snapshot(), start);
  EXPECT_NE(status.find(R"({"utility":"not running","silence":null,)"), std::string::npos)
      << status;
  EXPECT_NE(status.find(R"("online":{"card":null,"mixer":null})"), std::string::npos) << status;
}

TEST(ExpositionWriter, TheStationLabelGoesFirstOnEverySampleEscaped) {
  ExpositionWriter named("a\"b\\c\nd");
  named.Add("calvora_level_dbfs", "gauge", "Peak level, dBFS.",
            {{"channel", "left", -9.5}, {"channel", "right", -INFINITY}});
  named.Add("calvora_silence", "gauge", "1 in a silence.", {kNoReading});
  EXPECT_EQ(named.Text(),
            "# HELP calvora_level_dbfs Peak level, dBFS.\n"
            "# TYPE calvora_level_dbfs gauge\n"
            "calvora_level_dbfs{station=\"a\\\"b\\\\c\\nd\",channel=\"left\"} -9.500000\n"
            "calvora_level_dbfs{station=\"a\\\"b\\\\c\\nd\",channel=\"right\"} -Inf\n"
            "# HELP calvora_silence 1 in a silence.\n"
            "# TYPE calvora_silence gauge\n"
            "calvora_silence{station=\"a\\\"b\\\\c\\nd\"} NaN\n");
  ExpositionWriter unnamed("");
  unnamed.Add("calvora_audio_blocks_total", "counter", "Blocks.", {12345});
  EXPECT_EQ(unnamed.Text(),
            "# HELP calvora_audio_blocks_total Blocks.\n"
            "# TYPE calvora_audio_blocks_total counter\n"
            "calvora_audio_blocks_total 12345\n");
}

TEST(StationMonitor, EveryMetricNamesTheStationWhenItHasAName) {
  StationMonitor named("studio-b");
  const std::string text = Metrics(named);
  std::istringstream lines(text);
  int samples = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#')
      continue;
    ++samples;
    EXPECT_NE(line.find("{station=\"studio-b\""), std::string::npos) << line;
  }
  EXPECT_GE(samples, 12 + static_cast<int>(kEventKindCount));
  EXPECT_NE(text.find("\ncalvora_device_online{station=\"studio-b\",device=\"mixer\"} 0\n"),
            std::string::npos)
      << text;
  const std::string unnamed = MetricsExposition(StationSnapshot());
  EXPECT_NE(unnamed.find("\ncalvora_device_online{device=\"mixer\"} 0\n"), std::string::npos)
      << unnamed;
  EXPECT_EQ(unnamed.find("station="), std::string::npos);
}

}  // namespace
}  // namespace calvora::ctl
