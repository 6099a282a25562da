#include "cli/CtlOptions.h"

#include <gtest/gtest.h>

namespace calvora::ctl {
namespace {

std::optional<CtlOptions> Parse(std::vector<std::string> args, std::string* error = nullptr) {
  std::string message;
  auto options = ParseCommandLine(args, message);
  if (error)
    *error = message;
  return options;
}

TEST(CtlOptions, OptionsMayStandBeforeOrAfterTheCommand) {
  const auto watch = Parse({"--json", "watch", "--levels-every", "10", "--pid", "-7"});
  ASSERT_TRUE(watch);
  EXPECT_EQ(watch->command, Command::kWatch);
  EXPECT_TRUE(watch->json);
  EXPECT_EQ(watch->levelsEvery, 10u);
  EXPECT_EQ(watch->pid, -7);
  EXPECT_FALSE(watch->handle);

  const auto run = Parse({"run", "--restore", "--handle", "4294967295"});
  ASSERT_TRUE(run);
  EXPECT_TRUE(run->restore);
  EXPECT_EQ(run->handle, 4294967295u);
  EXPECT_EQ(Parse({"stop", "--mute"})->mute, true);
  const auto early = Parse({"--levels-every", "3", "--on-silence", "page", "auto", "--json"});
  ASSERT_TRUE(early);
  EXPECT_EQ(early->command, Command::kAuto);
  EXPECT_EQ(early->levelsEvery, 3u);
  EXPECT_EQ(early->actions[0], std::vector<std::string>{"page"});
  EXPECT_TRUE(early->json);
  EXPECT_EQ(Parse({"help"})->command, Command::kHelp);
  EXPECT_EQ(Parse({"mute", "--help"})->command, Command::kHelp);
  // Help wins over a refused value; of a repeated option only the last value counts.
  const auto helpFirst = Parse({"--pid", "0", "--help"});
  ASSERT_TRUE(helpFirst);
  EXPECT_EQ(helpFirst->command, Command::kHelp);
  const auto lastPid = Parse({"identify", "--pid", "0", "--pid", "5"});
  ASSERT_TRUE(lastPid);
  EXPECT_EQ(lastPid->pid, 5);
  // The web configuration goes with the server, whether serve's or another peer's.
  EXPECT_EQ(Parse({"serve", "--web-config", "/etc/calvora/web.yml"})->webConfig,
            "/etc/calvora/web.yml");
  EXPECT_EQ(Parse({"auto", "--listen", "127.0.0.1:0", "--web-config", "w.yml"})->webConfig,
            "w.yml");
}

TEST(CtlOptions, ListeningAndClipsBelongToTheServer) {
  const auto serve = Parse({"serve", "--listen-bitrate", "96000", "--listen-max", "40", "--clips",
                            "/var/clips", "--clips-max-mb", "2000", "--clips-days", "7"});
  ASSERT_TRUE(serve);
  EXPECT_EQ(serve->listenBitrate, 96000);
  EXPECT_EQ(serve->listenMax, 40);
  EXPECT_EQ(Parse({"serve"})->listenMax, 16);
  EXPECT_EQ(serve->clipsFolder, "/var/clips");
  EXPECT_EQ(serve->clipsMaxMb, 2000u);
  EXPECT_EQ(serve->clipsDays, 7);
  const auto watch = Parse({"--clips", "c", "watch", "--listen", "127.0.0.1:0"});
  ASSERT_TRUE(watch);
  EXPECT_EQ(watch->clipsFolder, "c");
  // Any UTF-8 text without controls names a station: letters beyond ASCII, a no-break space,
  // the last code point of each length.
  for (const char* station :
       {"Radio \xc5\x81\xc3\xb3"
        "d\xc5\xba FM",
        "a\xc2\xa0"
        "b",
        "\x7e\xdf\xbf", "\xef\xbf\xbd", "\xf0\x9f\x93\xbb", "\xf4\x8f\xbf\xbf"}) {
    std::string error;
    const auto named = Parse({"serve", "--station", station}, &error);
    ASSERT_TRUE(named) << station << ": " << error;
    EXPECT_EQ(named->station, station);
  }
  const auto defaults = Parse({"serve"});
  EXPECT_EQ(defaults->listenBitrate, 64000);
  EXPECT_FALSE(defaults->clipsFolder);
  EXPECT_EQ(defaults->clipsMaxMb, 500u);
  EXPECT_EQ(defaults->clipsDays, 30);
}

TEST(CtlOptions, MistakesAreRefusedWithAReason) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> mistakes{
      {{}, "no command given"},
      {{"start"}, "unknown command \"start\""},
      {{"run", "stop"}, "unexpected argument \"stop\""},
      {{"run", "--force"}, "unknown option --force"},
      {{"identify", "--handle"}, "--handle: 1 required"},
      {{"identify", "--handle", "0"}, "--handle: Value 0 not in range 1 to 4294967295"},
      {{"identify", "--handle", "12a"}, "--handle: needs a decimal number, not \"12a\""},
      {{"identify", "--pid", "0"}, "--pid: needs a program ID"},
      {{"identify", "--pid", "32768"}, "--pid: needs a program ID"},
      {{"identify", "--pid", "3", "--handle", "9"}, "--handle excludes --pid"},
      {{"stop", "--restore"}, "--restore belongs to the command run"},
      {{"run", "--mute"}, "--mute belongs to the command stop"},
      {{"--restore", "stop"}, "--restore belongs to the command run"},
      {{"identify", "--duration", "5"}, "--levels-every and --duration belong to the commands"},
      {{"watch", "--levels-every", "0"}, "--levels-every: Value 0 not in range 1"},
      {{"watch", "--duration", "-1"}, "--duration: needs a number"},
      {{"watch", "--duration", "nan"}, "--duration: needs a number"},
      {{"watch", "--duration", "inf"}, "--duration: needs a number"},
      {{"identify", "--handle", "0x10"}, "--handle: needs a decimal number"},
      {{"identify", "--pid", "5", "--pid", "0"}, "--pid: needs a program ID"},
      {{"identify", "--pid", "-32769"},
       "--pid: needs a program ID from -32768 to 32767 other than 0, not \"-32769\""},
      {{"watch", "--clip-length", "1001"}, "--clip-length: Value 1001 not in range 1 to 1000"},
      {{"watch", "--clip-window", "3601"}, "--clip-window: needs seconds from 0.1 to 3600"},
      {{"watch", "--back-for", "0.05"}, "--back-for: needs seconds from 0.1 to 3600"},
      {{"watch", "--phase-for", ""}, "--phase-for: needs seconds from 0.1"},
      {{"watch", "--loudness-margin", "71"}, "--loudness-margin: needs LU from 0.1 to 70"},
      {{"watch", "--loudness-for", "1e9"}, "--loudness-for: needs seconds from 0.1"},
      {{"serve", "--web-config"}, "--web-config: 1 required"},
      {{"serve", "--web-config", ""}, "--web-config: needs a file"},
      {{"watch", "--web-config", "web.yml"}, "--web-config secures the metrics server: it needs"},
      {{"identify", "--web-config", "web.yml"}, "--web-config secures the metrics server"},
      {{"watch", "--clips", "/tmp/c"}, "--clips is served by the server: it needs serve or"},
      {{"auto", "--listen-bitrate", "96000"}, "--listen-bitrate is served by the server"},
      {{"identify", "--clips", "/tmp/c"},
       "--listen-bitrate, --listen-max and --clips... belong to the server"},
      {{"auto", "--listen-max", "8"}, "--listen-max is served by the server"},
      {{"serve", "--listen-max", "0"}, "--listen-max: needs listeners from 1 to 256"},
      {{"serve", "--listen-max", "257"}, "--listen-max: needs listeners from 1 to 256"},
      {{"serve", "--listen-bitrate", "5999"}, "--listen-bitrate: needs bits per second from 6000"},
      {{"serve", "--listen-bitrate", "64k"}, "--listen-bitrate: needs bits per second"},
      {{"serve", "--clips", ""}, "--clips: needs a folder"},
      {{"serve", "--clips", "c", "--clips-max-mb", "0"}, "--clips-max-mb: needs megabytes from 1"},
      {{"serve", "--clips", "c", "--clips-days", "0"}, "--clips-days: needs days from 1"},
      {{"serve", "--clips-days", "7"}, "--clips-days bounds the clips' folder: it needs --clips"},
      // The station's name goes into every metric: bytes a scraper cannot read as UTF-8 (a
      // stray Latin-1 byte, a cut sequence, an overlong or surrogate form, past U+10FFFF) or
      // a control character (C0, DEL, C1) would break every scrape.
      {{"serve", "--station", "Radio \xe9t\xe9"}, "--station: the station's name is not UTF-8"},
      {{"serve", "--station", "Studio \xc5"}, "--station: the station's name is not UTF-8"},
      {{"serve", "--station", "\xe2\x82"}, "--station: the station's name is not UTF-8"},
      {{"serve", "--station", "a\xc0\xaf"}, "--station: the station's name is not UTF-8"},
      {{"serve", "--station", "\xed\xa0\x80"}, "--station: the station's name is not UTF-8"},
      {{"serve", "--station", "\xf4\x90\x80\x80"}, "--station: the station's name is not UTF-8"},
      {{"serve", "--station", "\xff"}, "--station: the station's name is not UTF-8"},
      {{"serve", "--station", "tab\there"}, "--station: the station's name holds a control"},
      {{"serve", "--station", "del\x7f"}, "--station: the station's name holds a control"},
      {{"serve", "--station", "c1\xc2\x85"}, "--station: the station's name holds a control"},
      {{"serve", "--station", "ok", "--station", "\x80"}, "--station: the station's name is not"},
  };
  for (const auto& [args, reason] : mistakes) {
    std::string error;
    EXPECT_FALSE(Parse(args, &error));
    EXPECT_EQ(error.rfind(reason, 0), 0u) << error;
  }
}

// A system without the metrics server, the checks, Ogg Opus and sh refuses them by name; the rest
// works.
TEST(CtlOptions, WhatASystemLacksIsRefusedThere) {
  const SystemCapabilities lacking{"Windows",
                                   false,
                                   false,
                                   false,
                                   false,
                                   "; give the command as cmd /c ... instead",
                                   ThisSystem().splitCommand};
  std::string error;
  const auto watch = ParseCommandLine({"watch", "--on-silence", "page 'dead air'"}, error, lacking);
  ASSERT_TRUE(watch) << error;
  EXPECT_FALSE(watch->checks.Any());
  EXPECT_EQ(watch->actions[0], (std::vector<std::string>{"page", "dead air"}));
  for (const auto& [args, reason] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"serve"}, "serve, --listen and --web-config are not available on Windows"},
           {{"watch", "--listen", ":0"}, "serve, --listen and --web-config are not available"},
           {{"auto", "--shell", "--on-sound", "x"},
            "--shell is not available on Windows; give the command as cmd /c ... instead"},
           {{"--checks", "none", "watch"}, "the checks of the audio (--checks and their settings)"},
           {{"auto", "--on-clipping", "x"}, "the checks of the audio"},
           {{"watch", "--clips", "c"}, "listening in and the clips of events (--listen-bitrate"}}) {
    EXPECT_FALSE(ParseCommandLine(args, error, lacking)) << args[0];
    EXPECT_EQ(error.rfind(reason, 0), 0u) << error;
  }
}

}  // namespace
}  // namespace calvora::ctl
