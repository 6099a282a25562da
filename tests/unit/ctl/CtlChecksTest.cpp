// The checks of the received audio on generated programmes: each event at the second it is
// due (within one slice of 100 ms plus the window it reads), and the readings behind them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cli/CtlOptions.h"
#include "events/EventLines.h"
#include "monitor/AudioAnalyser.h"
#include "monitor/HoldAndRelease.h"
#include "monitor/StationMonitor.h"
#include "server/LiveJson.h"

namespace calvora::ctl {
namespace {

constexpr int kRate = 48000;
constexpr int kBlockFrames = 480;  // 10 ms, as the utility sends them
constexpr double kSlice = 0.1;

// A programme: the left and right sample at a time in seconds.
using Programme = std::function<std::pair<double, double>(double seconds)>;

double Tone(double seconds, double peakDb, double hz = 1000) {
  return std::pow(10, peakDb / 20) * std::sin(2 * M_PI * hz * seconds);
}

int16_t ToSample(double value) {
  return static_cast<int16_t>(std::lround(std::clamp(value * 32767.0, -32768.0, 32767.0)));
}

struct Heard {
  std::string what;  // "channel-lost right"
  double at;         // seconds of audio
  double value;
};

// Plays the programme for `seconds` through the analyser in 10 ms blocks; `rendered` takes the
// samples, `each` the readings after every block.
std::vector<Heard> Play(AudioAnalyser& analyser, const Programme& programme, double seconds,
                        std::vector<int16_t>* rendered = nullptr,
                        const std::function<void(const AudioReadings&)>& each = {}) {
  std::vector<Heard> heard;
  std::vector<int16_t> block(kBlockFrames * 2);
  const auto blocks = static_cast<long>(seconds * kRate / kBlockFrames);
  for (long b = 0; b < blocks; ++b) {
    for (int i = 0; i < kBlockFrames; ++i) {
      const auto [l, r] = programme(static_cast<double>(b * kBlockFrames + i) / kRate);
      block[2 * i] = ToSample(l);
      block[2 * i + 1] = ToSample(r);
    }
    if (rendered)
      rendered->insert(rendered->end(), block.begin(), block.end());
    std::vector<uint8_t> bytes(block.size() * 2);
    std::memcpy(bytes.data(), block.data(), bytes.size());
    for (const auto& event : analyser.OnBlock(kRate, 2, bytes)) {
      std::string what = EventName(event.kind);
      if (event.channel != Channel::kNone)
        what += std::string(" ") + ChannelName(event.channel);
      heard.push_back({what, analyser.Readings().audioSeconds, event.value});
    }
    if (each)
      each(analyser.Readings());
  }
  return heard;
}

// Events by name and the second each is due.
using Due = std::vector<std::pair<std::string, double>>;

// The events heard, each with the time it was due: within one slice plus `window` after.
void ExpectEvents(const std::vector<Heard>& heard, const Due& due, double window = 0) {
  ASSERT_EQ(heard.size(), due.size()) << (heard.empty() ? "none" : heard[0].what);
  for (std::size_t i = 0; i < due.size(); ++i) {
    EXPECT_EQ(heard[i].what, due[i].first);
    EXPECT_GE(heard[i].at, due[i].second - 1e-6) << heard[i].what;
    EXPECT_LE(heard[i].at, due[i].second + kSlice + window + 1e-6) << heard[i].what;
  }
}

TEST(AudioChecks, ChannelLostAndBackAtTheirSeconds) {
  CheckSettings settings;
  AudioAnalyser analyser(settings);
  // Right silent from 5 s to 20 s; the left plays on.
  const auto heard = Play(
      analyser,
      [](double t) {
        const double s = Tone(t, -20);
        return std::pair(s, t >= 5 && t < 20 ? 0.0 : s);
      },
      25);
  ExpectEvents(heard, {{"channel-lost right", 15}, {"channel-back right", 22}});
  EXPECT_LT(heard[0].value, -80);
  EXPECT_FALSE(analyser.Readings().channelLost[1]);
}

TEST(AudioChecks, BothChannelsQuietIsNoLostChannel) {
  CheckSettings settings;
  AudioAnalyser analyser(settings);
  const auto heard = Play(
      analyser,
      [](double t) {
        const double s = t < 3 ? Tone(t, -20) : 0.0;
        return std::pair(s, s);
      },
      20);
  ExpectEvents(heard, {});
}

TEST(AudioChecks, AStuckOrOffsetChannelIsLost) {
  CheckSettings settings;
  settings.channelLostSeconds = 4;
  AudioAnalyser analyser(settings);
  // At 2 s the right channel steps to a constant a quarter of full scale: loud by its peak,
  // but no sound.
  const auto heard = Play(
      analyser, [](double t) { return std::pair(Tone(t, -20), t >= 2 ? 0.25 : Tone(t, -20)); }, 8);
  ExpectEvents(heard, {{"channel-lost right", 6}});
  EXPECT_NEAR(analyser.Readings().dcOffset[1], 0.25, 0.001);
  EXPECT_NEAR(analyser.Readings().dcOffset[0], 0.0, 0.001);
}

TEST(AudioChecks, OnlyOppositePhaseIsReversed) {
  // From 3 s to 12 s the right channel is the left one shifted: by half a period it is
  // inverted; a quarter period (wide stereo, correlation 0) and 115 degrees (-0.42, above the
  // limit of -0.5) are ordinary programmes.
  struct Case {
    double degrees;
    Due due;
  };
  for (const Case& c : std::vector<Case>{
           {180, {{"phase-reversed", 8}, {"phase-normal", 14}}}, {115, {}}, {90, {}}}) {
    CheckSettings settings;
    AudioAnalyser analyser(settings);
    const double shift = c.degrees * M_PI / 180;
    const auto heard = Play(
        analyser,
        [shift](double t) {
          const auto tones = [t](double phase) {
            return 0.1 * std::sin(2 * M_PI * 440 * t + phase) +
                   0.03 * std::sin(2 * M_PI * 1500 * t + phase);
          };
          return std::pair(tones(0), tones(t >= 3 && t < 12 ? shift : 0));
        },
        16);
    SCOPED_TRACE(c.degrees);
    // The 400 ms window must fill with the shifted signal before the count starts.
    ExpectEvents(heard, c.due, 0.4);
    if (!heard.empty()) {
      EXPECT_LT(heard[0].value, -0.99);
    }
    EXPECT_GT(analyser.Readings().correlation, 0.99);
  }
}

TEST(AudioChecks, PhaseNeedsSoundOnBothChannels) {
  CheckSettings settings;
  AudioAnalyser analyser(settings);
  // Opposite phase, but the right channel only at -50 dB: below the level it counts as none
  // (and is lost after 10 s, which this does not wait for).
  const auto heard = Play(
      analyser, [](double t) { return std::pair(Tone(t, -20), -Tone(t, -50)); }, 9);
  ExpectEvents(heard, {});
  EXPECT_LT(analyser.Readings().correlation, -0.99);  // the meter still shows it
}

TEST(AudioChecks, ClippedToneClipsAndEnds) {
  CheckSettings settings;
  AudioAnalyser analyser(settings);
  // A tone driven 6 dB over full scale from 4 s to 6 s: flat tops of many samples.
  const auto heard = Play(
      analyser,
      [](double t) {
        const double s = Tone(t, t >= 4 && t < 6 ? 6 : -6);
        return std::pair(s, s);
      },
      17);
  ExpectEvents(heard, {{"clipping", 4}, {"clipping-end", 16}});
  // Two flat tops a period on each channel for 2 s.
  EXPECT_NEAR(static_cast<double>(analyser.Readings().clippingRuns[0]), 4000, 2);
  EXPECT_EQ(analyser.Readings().clippingRuns[0], analyser.Readings().clippingRuns[1]);
}

TEST(AudioChecks, ClippingIsMoreRunsThanTheCountAndNoFullScalePeak) {
  // A tone whose peaks just touch full scale (one sample each), and short bursts of clipping
  // on the left, one run each, every 0.5 s: ten in the window are allowed, eleven clip.
  for (const int bursts : {10, 11}) {
    CheckSettings settings;
    AudioAnalyser analyser(settings);
    const auto heard = Play(
        analyser,
        [bursts](double t) {
          const bool burst = std::fmod(t, 0.5) < 0.0006 && t < bursts * 0.5;
          const double s = Tone(t, burst ? 6 : 0, 1000);
          return std::pair(s, burst ? 0.0 : s);
        },
        6);
    SCOPED_TRACE(bursts);
    ExpectEvents(heard, bursts > 10 ? Due{{"clipping", 5}} : Due{});
    EXPECT_EQ(analyser.Readings().clippingRuns[0], static_cast<uint64_t>(bursts));
    EXPECT_EQ(analyser.Readings().clippingRuns[1], 0u);
  }
}

TEST(AudioChecks, LoudnessOffTargetCountsSlicesOfProgramme) {
  // A 1 kHz tone on both channels reads its peak level in LUFS. After -23, the short-term
  // loudness of -40 leaves the margin once under 8.2 % of its 3 s is still at -23 (2.8 s into
  // the quiet stretch) and returns once 8.2 % is (0.3 s into the loud one), counted in slices
  // of 100 ms. Below the -70 LUFS gate there is no programme to judge: silence starts the
  // count again, and no reading is ever below the gate.
  constexpr double kSilence = -1000;
  constexpr double kNone = -HUGE_VAL, kUnchecked = NAN;
  struct Case {
    const char* name;
    double forSeconds;
    std::vector<std::pair<double, double>> stretches;  // until the second, the tone's dB
    Due due;
    double shortTermAtEnd;
    double integrated;  // the quiet stretch of the first falls below the relative gate
  };
  for (const Case& c :
       std::vector<Case>{{"off and back",
                          5,
                          {{10, -23}, {30, -40}, {36, -23}},
                          {{"loudness-off", 12.8 + 4.9}, {"loudness-ok", 30.3 + 1.9}},
                          -23,
                          -23},
                         {"silence", 5, {{15, kSilence}}, {}, kNone, kNone},
                         {"silence between",
                          7.3,
                          {{3, -23}, {8, -40}, {13, kSilence}, {22, -40}},
                          {{"loudness-off", 13.1 + 7.2}},
                          -40,
                          kUnchecked}}) {
    CheckSettings settings;
    settings.loudnessSeconds = c.forSeconds;
    AudioAnalyser analyser(settings);
    std::vector<double> belowGate;
    const auto heard = Play(
        analyser,
        [&c](double t) {
          auto stretch = c.stretches.begin();
          while (stretch->first <= t && stretch + 1 != c.stretches.end())
            ++stretch;
          const double s = stretch->second == kSilence ? 0.0 : Tone(t, stretch->second);
          return std::pair(s, s);
        },
        c.stretches.back().first, nullptr,
        [&belowGate](const AudioReadings& r) {
          for (const double lufs : {r.momentaryLufs, r.shortTermLufs})
            if (std::isfinite(lufs) && lufs <= LoudnessCheck::kGateLufs)
              belowGate.push_back(lufs);
        });
    SCOPED_TRACE(c.name);
    ExpectEvents(heard, c.due);
    EXPECT_EQ(belowGate, std::vector<double>{});
    if (!heard.empty()) {
      EXPECT_LT(heard[0].value, -33);
    }
    const auto expectLufs = [](double got, double expected) {
      if (std::isinf(expected)) {
        EXPECT_EQ(got, expected);
      } else if (!std::isnan(expected)) {
        EXPECT_NEAR(got, expected, 0.3);
      }
    };
    expectLufs(analyser.Readings().shortTermLufs, c.shortTermAtEnd);
    expectLufs(analyser.Readings().integratedLufs, c.integrated);
  }
}

TEST(AudioChecks, ChecksLeftOutRaiseNothing) {
  std::string error;
  const auto options = ParseCommandLine({"watch", "--checks", "phase,loudness"}, error);
  ASSERT_TRUE(options) << error;
  AudioAnalyser analyser(options->checks);
  const auto heard = Play(
      analyser, [](double t) { return std::pair(Tone(t, 6), 0.0); }, 12);
  ExpectEvents(heard, {});
  EXPECT_FALSE(analyser.Readings().channelLost[1]);
  EXPECT_FALSE(analyser.Readings().clipping);
  EXPECT_GT(analyser.Readings().clippingRuns[0], 1000u);  // counted all the same
}

TEST(AudioChecks, TruePeakAndLoudnessAgreeWithLibebur128) {
  CheckSettings settings;
  AudioAnalyser analyser(settings);
  // A quarter of the sample rate at 45 degrees: every sample at 0.707 of the wave's peak of
  // -1 dBFS, so the true peak lies 3 dB above the sample peak, between the samples.
  std::vector<int16_t> rendered;
  Play(
      analyser,
      [](double t) {
        const double s = std::pow(10, -1 / 20.0) * std::sin(2 * M_PI * kRate / 4 * t + M_PI / 4);
        return std::pair(s, s);
      },
      2, &rendered);
  ebur128_state* reference = ebur128_init(2, kRate, EBUR128_MODE_S | EBUR128_MODE_TRUE_PEAK);
  ebur128_add_frames_short(reference, rendered.data(), rendered.size() / 2);
  double peak = 0, shortTerm = 0, momentary = 0;
  ebur128_true_peak(reference, 0, &peak);
  ebur128_loudness_shortterm(reference, &shortTerm);
  ebur128_loudness_momentary(reference, &momentary);
  ebur128_destroy(&reference);
  const AudioReadings& r = analyser.Readings();
  // The short-term loudness summed from the slices is libebur128's over the same 3 s.
  EXPECT_NEAR(r.shortTermLufs, shortTerm, 1e-9);
  EXPECT_NEAR(r.momentaryLufs, momentary, 1e-9);
  EXPECT_NEAR(r.truePeakMaxDb[0], 20 * std::log10(peak), 1e-9);
  EXPECT_NEAR(r.truePeakDb[1], 20 * std::log10(peak), 1e-9);
  EXPECT_NEAR(r.truePeakMaxDb[0], -1, 0.5);
  EXPECT_NEAR(r.levelDb[0], -4, 0.1);  // the sample peak
}

TEST(AudioChecks, ResetForgetsTheFaultButNotTheCounts) {
  CheckSettings settings;
  AudioAnalyser analyser(settings);
  Play(
      analyser, [](double t) { return std::pair(Tone(t, 6), Tone(t, 6)); }, 1);
  ASSERT_TRUE(analyser.Readings().clipping);
  const auto runs = analyser.Readings().clippingRuns;
  analyser.Reset();
  EXPECT_FALSE(analyser.Readings().clipping);
  EXPECT_TRUE(std::isnan(analyser.Readings().shortTermLufs));
  EXPECT_EQ(analyser.Readings().clippingRuns, runs);
}

// The hold-and-release each check counts with, raised after 1 s and ended after 2 s. Each
// letter is 0.5 s of audio in 100 ms slices showing the fault (F), the right state (R) or
// neither (N); the changes line marks where the state was raised (+) and ended (-).
TEST(AudioChecks, HoldAndReleaseCountsUnbrokenTime) {
  using Evidence = HoldAndRelease::Evidence;
  struct Row {
    const char* audio;
    const char* changes;
  } const rows[] = {
      {"FF", ".+"},  // ten slices make the whole second
      {"FNFF", "...+"},
      {"FRFF", "...+"},
      {"FFRRRRFF", ".+...-.+"},
      {"FFRRRNRRRRN", ".+.......-."},  // neither holds the state, restarts the count
      {"FFRRRFRRRR", ".+.......-"},
  };
  for (const Row& row : rows) {
    HoldAndRelease hold;
    std::string changes;
    for (const char* letter = row.audio; *letter; ++letter) {
      const Evidence evidence = *letter == 'F'   ? Evidence::kFault
                                : *letter == 'R' ? Evidence::kRight
                                                 : Evidence::kNeither;
      char change = '.';
      for (int slice = 0; slice < 5; ++slice) {
        const auto made = hold.Add(kSlice, evidence, 1, 2);
        if (made != HoldAndRelease::Change::kNone)
          change = made == HoldAndRelease::Change::kRaised ? '+' : '-';
      }
      changes += change;
    }
    EXPECT_EQ(changes, row.changes) << row.audio;
    const auto last = changes.find_last_not_of('.');
    EXPECT_EQ(hold.Raised(), last != std::string::npos && changes[last] == '+') << row.audio;
  }
}

TEST(AudioChecks, EventsAsTheLinesTheLogAndThePageGiveThem) {
  StationEvent event;
  event.kind = EventKind::kChannelLost;
  event.channel = Channel::kRight;
  event.value = -90.309;
  event.at = {"2026-12-07", "14:03:07.250", "2026-12-07T14:03:07.250+01:00"};
  event.left = -20;
  event.right = -90.3;
  struct Case {
    std::string got;
    std::string expected;
  };
  StationEvent phase = event;
  phase.kind = EventKind::kPhaseReversed;
  phase.channel = Channel::kNone;
  phase.value = -0.98765;
  StationEvent silence = event;
  silence.kind = EventKind::kSilence;
  silence.channel = Channel::kNone;
  for (const Case& c : std::vector<Case>{
           {CheckEventLine(event, false), "14:03:07.250 EVENT channel-lost right -90.31"},
           {CheckEventLine(phase, false), "14:03:07.250 EVENT phase-reversed -0.99"},
           {CheckEventLine(event, true),
            R"({"time":"2026-12-07T14:03:07.250+01:00","code":"EVENT","event":"channel-lost",)"
            R"("channel":"right","value":-90.309})"},
           {EventLogLine(event, false),
            "2026-12-07T14:03:07.250+01:00 channel-lost card left=-20.00 right=-90.30 "
            "channel=right value=-90.31"},
           {EventLogLine(phase, true),
            R"({"time":"2026-12-07T14:03:07.250+01:00","event":"phase-reversed","device":"card",)"
            R"("left":-20.0,"right":-90.3,"value":-0.98765})"},
           // The utility's own events keep their lines as before.
           {EventLogLine(silence, false),
            "2026-12-07T14:03:07.250+01:00 silence card left=-20.00 right=-90.30"},
           {EventJson(event), R"({"time":"2026-12-07T14:03:07.250+01:00","event":"channel-lost",)"
                              R"("channel":"right","value":-90.309})"}})
    EXPECT_EQ(c.got, c.expected);
}

TEST(CtlOptions, CheckSettingsAndTheirMistakes) {
  std::string error;
  const auto options = ParseCommandLine(
      {"serve",     "--channel-level",  "-45", "--channel-for",     "3",   "--phase-limit",
       "-0.3",      "--phase-for",      "2.5", "--clip-runs",       "4",   "--clip-length",
       "5",         "--clip-window",    "20",  "--loudness-target", "-16", "--loudness-margin",
       "6",         "--loudness-for",   "30",  "--back-for",        "1",   "--on-channel-lost",
       "page left", "--on-loudness-ok", "true"},
      error);
  ASSERT_TRUE(options) << error;
  const CheckSettings& c = options->checks;
  EXPECT_TRUE(c.channel && c.phase && c.clipping && c.loudness);
  EXPECT_EQ(c.channelLevelDb, -45);
  EXPECT_EQ(c.channelLostSeconds, 3);
  EXPECT_EQ(c.phaseLimit, -0.3);
  EXPECT_EQ(c.phaseSeconds, 2.5);
  EXPECT_EQ(c.clipRuns, 4u);
  EXPECT_EQ(c.clipRunSamples, 5u);
  EXPECT_EQ(c.clipWindowSeconds, 20);
  EXPECT_EQ(c.loudnessTarget, -16);
  EXPECT_EQ(c.loudnessMargin, 6);
  EXPECT_EQ(c.loudnessSeconds, 30);
  EXPECT_EQ(c.backSeconds, 1);
  EXPECT_EQ(options->actions[static_cast<std::size_t>(EventKind::kChannelLost)],
            (std::vector<std::string>{"page", "left"}));
  EXPECT_EQ(options->actions[static_cast<std::size_t>(EventKind::kLoudnessOk)],
            (std::vector<std::string>{"true"}));

  const auto none = ParseCommandLine({"watch", "--checks", "none"}, error);
  ASSERT_TRUE(none);
  EXPECT_FALSE(none->checks.Any());
  const auto some = ParseCommandLine({"watch", "--checks", "clipping,channel"}, error);
  ASSERT_TRUE(some);
  EXPECT_TRUE(some->checks.clipping && some->checks.channel);
  EXPECT_FALSE(some->checks.phase || some->checks.loudness);

  for (const auto& [args, reason] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"watch", "--checks", "phase,"}, "--checks: needs all, none, or some of"},
           {{"watch", "--checks", "volume"}, "--checks: needs all, none, or some of"},
           {{"watch", "--phase-limit", "-1.5"}, "--phase-limit: needs a correlation from -1 to 1"},
           {{"watch", "--channel-for", "0"}, "--channel-for: needs seconds from 0.1"},
           {{"watch", "--loudness-target", "x"}, "--loudness-target: needs LUFS"},
           {{"watch", "--channel-level", "nan"}, "--channel-level: needs a level"},
           {{"watch", "--clip-runs", "-1"}, "--clip-runs: needs a count of runs"},
           {{"watch", "--clip-length", "0"}, "--clip-length: Value 0 not in range 1 to 1000"},
           {{"mute", "--checks", "none"}, "--on-..., --shell, --log, --listen and the checks"}}) {
    EXPECT_FALSE(ParseCommandLine(args, error)) << args[1];
    EXPECT_EQ(error.rfind(reason, 0), 0u) << error;
  }
}

}  // namespace
}  // namespace calvora::ctl
